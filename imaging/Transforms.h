// Module QvTransf.
// Operations that change a whole image: the base TImageTransform and the negative.
#pragma once

#include "DibGraphic.h"
#include "LibrarySupport.h"

#include <string>

namespace gf {

class TImageTransform {
public:
  virtual ~TImageTransform() = default;
  virtual std::string ClassName() const { return "TImageTransform"; }

  // Changes Image in place: the base transforms into a temporary and assigns it back.
  virtual void Apply(TDibGraphic& Image);
  // Puts the transformed Source into Dest; the base refuses.
  virtual void ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest);

  TProgressEvent OnProgress; // percent 0..100; called only when set
  uint8_t LastPercent = 255; // 255: nothing reported yet

protected:
  void Report(int64_t Position, int64_t Min, int64_t Max) {
    LastPercent =
        static_cast<uint8_t>(ReportProgress(*this, Position, Min, Max, LastPercent, OnProgress));
  }
};

class TNegativeTransform : public TImageTransform {
public:
  std::string ClassName() const override { return "TNegativeTransform"; }
  void Apply(TDibGraphic& Image) override;
  void ApplyOnDest(TDibGraphic& Source, TDibGraphic& Dest) override;
};

} // namespace gf
