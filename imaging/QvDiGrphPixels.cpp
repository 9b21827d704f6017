// Palettes and pixel formats of the DIB image unit.
#include "QvDiGrph.h"

#include <algorithm>
#include <climits>
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
  const int r = ColorRed(Color), g = ColorGreen(Color), b = ColorBlue(Color);
  const int count = std::min<int>(FPalette.palNumEntries, 256);
  int best = INT_MAX;
  int result = 0;
  for (int i = 0; i < count; ++i) {
    const TPaletteEntry& e = FPalette.palPalEntry[i];
    const int d = (r - e.peRed) * (r - e.peRed) + (g - e.peGreen) * (g - e.peGreen) +
                  (b - e.peBlue) * (b - e.peBlue);
    if (d < best) {
      result = i;
      if (d == 0)
        break;
      best = d;
    }
  }
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

void SetPixel1(uint8_t* Row, int X, uint32_t Value) {
  const uint8_t bit = static_cast<uint8_t>(0x80 >> (X & 7));
  Row[X >> 3] = Value > 0 ? Row[X >> 3] | bit : Row[X >> 3] & ~bit;
}

// Only the low nibble of Value is stored, so the neighbouring pixel is never touched.
void SetPixel4(uint8_t* Row, int X, uint32_t Value) {
  uint8_t& b = Row[X >> 1];
  b = (X & 1) ? static_cast<uint8_t>((b & 0xF0) | (Value & 0x0F))
              : static_cast<uint8_t>((b & 0x0F) | ((Value & 0x0F) << 4));
}

void SetPixel8(uint8_t* Row, int X, uint32_t Value) {
  Row[X] = static_cast<uint8_t>(Value);
}

void SetPixel24(uint8_t* Row, int X, uint32_t Value) {
  uint8_t* p = Row + 3 * static_cast<std::size_t>(X);
  p[0] = static_cast<uint8_t>(Value);
  p[1] = static_cast<uint8_t>(Value >> 8);
  p[2] = static_cast<uint8_t>(Value >> 16);
}

uint32_t GetPixel1(const uint8_t* Row, int X) {
  return (Row[X >> 3] >> (7 - (X & 7))) & 1;
}

uint32_t GetPixel4(const uint8_t* Row, int X) {
  return (X & 1) ? Row[X >> 1] & 0x0F : Row[X >> 1] >> 4;
}

uint32_t GetPixel8(const uint8_t* Row, int X) {
  return Row[X];
}

uint32_t GetPixel24(const uint8_t* Row, int X) {
  const uint8_t* p = Row + 3 * static_cast<std::size_t>(X);
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16;
}

const TPixelSetter PixelSetters[6] = {SetPixel1, SetPixel4, SetPixel8,
                                      SetPixel4, SetPixel8, SetPixel24};
const TPixelGetter PixelGetters[6] = {GetPixel1, GetPixel4, GetPixel8,
                                      GetPixel4, GetPixel8, GetPixel24};

} // namespace gf
