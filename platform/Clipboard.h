// An in-process clipboard with the two formats the image library exchanges: a
// bitmap (CF_BITMAP) and its palette (CF_PALETTE). The clipboard owns what is on it.
#pragma once

#include "Graphics.h"

#include <memory>

namespace gf {

class TClipboard : public TPersistent {
public:
  std::string ClassName() const override { return "TClipboard"; }
  // Nested opens count; the clipboard is open until the last Close.
  void Open() { ++FOpenCount; }
  void Close() {
    if (FOpenCount > 0)
      --FOpenCount;
  }
  bool IsOpen() const { return FOpenCount > 0; }
  void Clear();
  bool HasFormat(uint16_t Format) const;
  void SetBitmap(std::unique_ptr<TDibSection> Bitmap) { FBitmap = std::move(Bitmap); }
  void SetPalette(std::unique_ptr<TPaletteObject> Palette) { FPalette = std::move(Palette); }
  const TDibSection* GetBitmap() const { return FBitmap.get(); }
  const TPaletteObject* GetPalette() const { return FPalette.get(); }
  // Puts a graphic on the clipboard in its clipboard format.
  void Assign(TPersistent* Source) override;

private:
  int FOpenCount = 0;
  std::unique_ptr<TDibSection> FBitmap;
  std::unique_ptr<TPaletteObject> FPalette;
};

// The process's clipboard.
TClipboard& Clipboard();

} // namespace gf
