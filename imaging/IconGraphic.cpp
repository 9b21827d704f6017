#include "IconGraphic.h"

#include <cstring>

namespace gf {

const TGraphicClass TIconGraphic::Class = {
    "TIconGraphic", [] { return std::unique_ptr<TGraphic>(new TIconGraphic); }};

void TIconGraphic::LoadFrame(TStream& Stream, int) {
  TIcon icon;
  icon.LoadFromStream(Stream);
  NewImage(icon.GetWidth(), icon.GetHeight(), ifTrueColor, nullptr, 0, 0);
  std::memset(Bits(), 0, ImageSize());
  icon.Draw(*Canvas(), TRect{0, 0, GetWidth(), GetHeight()});
}

void TIconGraphic::SaveToStream(TStream& Stream) {
  TBitmap mask, color;
  mask.SetSize(SystemIconWidth, SystemIconHeight);
  color.SetSize(SystemIconWidth, SystemIconHeight);
  mask.Canvas().BrushColor = 0; // black: every pixel opaque
  mask.Canvas().FillRect(TRect{0, 0, SystemIconWidth, SystemIconHeight});
  Draw(color.Canvas(), TRect{0, 0, GetWidth(), GetHeight()});
  TIconInfo info;
  info.fIcon = true;
  info.hbmMask = mask.Handle();
  info.hbmColor = color.Handle();
  TIcon icon;
  icon.SetHandle(CreateIconIndirect(info));
  icon.SaveToStream(Stream);
}

} // namespace gf
