// Module QvIcoGr.
// TIconGraphic: an image read from the first picture of an icon file, and saved as
// a true-colour icon of the system icon size.
#pragma once

#include "DibGraphic.h"

namespace gf {

class TIconGraphic : public TDibGraphic {
public:
  static const TGraphicClass Class;
  const TGraphicClass& ClassType() const override { return Class; }

  // Reads the icon as a true-colour image of its own size; transparent parts stay
  // black. Index is not used: an icon stream yields one image.
  void LoadFrame(TStream& Stream, int Index) override;
  // Writes the image as an opaque icon, cut at the icon's right and bottom edges.
  void SaveToStream(TStream& Stream) override;
};

} // namespace gf
