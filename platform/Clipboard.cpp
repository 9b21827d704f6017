#include "Clipboard.h"

namespace gf {

void TClipboard::Clear() {
  FBitmap.reset();
  FPalette.reset();
}

bool TClipboard::HasFormat(uint16_t Format) const {
  return (Format == CF_BITMAP && FBitmap) || (Format == CF_PALETTE && FPalette);
}

void TClipboard::Assign(TPersistent* Source) {
  auto* graphic = dynamic_cast<TGraphic*>(Source);
  if (!graphic) {
    TPersistent::Assign(Source);
    return;
  }
  uint16_t format = 0;
  std::unique_ptr<TDibSection> data;
  std::unique_ptr<TPaletteObject> palette;
  graphic->SaveToClipboardFormat(format, data, palette);
  Open();
  Clear();
  if (format == CF_BITMAP)
    FBitmap = std::move(data);
  FPalette = std::move(palette);
  Close();
}

TClipboard& Clipboard() {
  static TClipboard clipboard;
  return clipboard;
}

} // namespace gf
