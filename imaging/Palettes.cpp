// Palettes and pixel formats of the DIB image unit.
#include "DibGraphic.h"

#include <algorithm>
#include <cstring>

namespace gf {

TRgbToPaletteConverter::TRgbToPaletteConverter(const TMaxLogPalette& Palette) : FPalette(Palette) {
  for (auto& slot : FCache)
    slot = TSlot{0, -1};
}

uint16_t TRgbToPaletteConverter::NearestIndex(TColor Color) {
  TSlot& slot = FCache[Color % CacheSlots];
  if (slot.Index >= 0 && slot.Key == Color) {
    ++Hits;
    return static_cast<uint16_t>(slot.Index);
  }
  ++Misses;
  const int result =
      NearestColorIndex(FPalette.palPalEntry, std::min<int>(FPalette.palNumEntries, 256),
                        ColorRed(Color), ColorGreen(Color), ColorBlue(Color));
  slot = TSlot{Color, static_cast<int16_t>(result)};
  return static_cast<uint16_t>(result);
}

namespace {

void SetEntry(TMaxLogPalette& P, int I, int R, int G, int B) {
  P.palPalEntry[I] =
      TPaletteEntry{static_cast<uint8_t>(R), static_cast<uint8_t>(G), static_cast<uint8_t>(B), 0};
}

void Start(TMaxLogPalette& P, int Count) {
  std::memset(&P, 0, sizeof P);
  P.palVersion = 0x300;
  P.palNumEntries = static_cast<uint16_t>(Count);
}

// 6-bit DAC level widened to 8 bits.
int Widen(int V) {
  return V * 4 + V / 16;
}

void Color16Entry(int I, int& R, int& G, int& B) {
  if (I < 8) {
    R = (I & 4) ? 170 : 0;
    G = (I & 2) ? 170 : 0;
    B = (I & 1) ? 170 : 0;
    if (I == 6)
      G = 85; // brown
  } else {
    R = 85 + ((I & 4) ? 170 : 0);
    G = 85 + ((I & 2) ? 170 : 0);
    B = 85 + ((I & 1) ? 170 : 0);
  }
}

// The 16 colours, which also open the 256-colour palette.
void SetColor16Entries(TMaxLogPalette& P) {
  for (int i = 0; i < 16; ++i) {
    int r, g, b;
    Color16Entry(i, r, g, b);
    SetEntry(P, i, r, g, b);
  }
}

} // namespace

void MakeBlackWhitePalette(TMaxLogPalette& Palette) {
  Start(Palette, 2);
  SetEntry(Palette, 0, 0, 0, 0);
  SetEntry(Palette, 1, 255, 255, 255);
}

void MakeGray16Palette(TMaxLogPalette& Palette) {
  Start(Palette, 16);
  for (int i = 0; i < 16; ++i)
    SetEntry(Palette, i, i * 17, i * 17, i * 17);
}

void MakeGray256Palette(TMaxLogPalette& Palette) {
  Start(Palette, 256);
  for (int i = 0; i < 256; ++i)
    SetEntry(Palette, i, i, i, i);
}

void MakeColor16Palette(TMaxLogPalette& Palette) {
  Start(Palette, 16);
  SetColor16Entries(Palette);
}

void MakeColor256Palette(TMaxLogPalette& Palette) {
  Start(Palette, 256);
  SetColor16Entries(Palette);
  static const int grey[16] = {0, 5, 8, 11, 14, 17, 20, 24, 28, 32, 36, 40, 45, 50, 56, 63};
  for (int i = 0; i < 16; ++i)
    SetEntry(Palette, 16 + i, Widen(grey[i]), Widen(grey[i]), Widen(grey[i]));
  // Nine runs of 24 hues: three intensities, each at three saturations. Each run
  // walks the colour circle from blue through magenta, red, yellow, green and cyan.
  static const int levels[9][5] = {{0, 16, 31, 47, 63}, {31, 39, 47, 55, 63}, {45, 49, 54, 58, 63},
                                   {0, 7, 14, 21, 28},  {14, 17, 21, 24, 28}, {20, 22, 24, 26, 28},
                                   {0, 4, 8, 12, 16},   {8, 10, 12, 14, 16},  {11, 12, 13, 15, 16}};
  // Level indices (red, green, blue) of the 24 hues.
  static const int hues[24][3] = {{0, 0, 4}, {1, 0, 4}, {2, 0, 4}, {3, 0, 4}, {4, 0, 4}, {4, 0, 3},
                                  {4, 0, 2}, {4, 0, 1}, {4, 0, 0}, {4, 1, 0}, {4, 2, 0}, {4, 3, 0},
                                  {4, 4, 0}, {3, 4, 0}, {2, 4, 0}, {1, 4, 0}, {0, 4, 0}, {0, 4, 1},
                                  {0, 4, 2}, {0, 4, 3}, {0, 4, 4}, {0, 3, 4}, {0, 2, 4}, {0, 1, 4}};
  for (int run = 0; run < 9; ++run)
    for (int h = 0; h < 24; ++h)
      SetEntry(Palette, 32 + run * 24 + h, Widen(levels[run][hues[h][0]]),
               Widen(levels[run][hues[h][1]]), Widen(levels[run][hues[h][2]]));
  // 248-255 stay black. Three entries of the table differ from the standard set.
  SetEntry(Palette, 30, 227, 179, 179);
  SetEntry(Palette, 85, 223, 182, 235);
  SetEntry(Palette, 96, 182, 223, 182);
}

const TMaxLogPalette& DefaultPalette(TImageFormat Format) {
  static const auto palettes = [] {
    std::array<TMaxLogPalette, 5> p{};
    MakeBlackWhitePalette(p[ifBlackWhite]);
    MakeGray16Palette(p[ifGray16]);
    MakeGray256Palette(p[ifGray256]);
    MakeColor16Palette(p[ifColor16]);
    MakeColor256Palette(p[ifColor256]);
    return p;
  }();
  if (Format >= ifTrueColor)
    throw EQuorvaneError("Internal error: Invalid image format");
  return palettes[Format];
}

void SwapRedBlue(void* Buffer, std::size_t ByteCount) {
  auto* p = static_cast<uint8_t*>(Buffer);
  for (std::size_t n = ByteCount / 3; n > 0; --n, p += 3)
    std::swap(p[0], p[2]);
}

const TPixelSetter PixelSetters[6] = {SetPixel1, SetPixel4, SetPixel8,
                                      SetPixel4, SetPixel8, SetPixel24};
const TPixelGetter PixelGetters[6] = {GetPixel1, GetPixel4, GetPixel8,
                                      GetPixel4, GetPixel8, GetPixel24};

} // namespace gf
