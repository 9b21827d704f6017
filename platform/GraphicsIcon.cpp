// The platform icon: the first image of an icon file, and a true-colour icon writer.
#include "Graphics.h"

#include "ByteOrder.h"
#include "Pixels.h"

#include <algorithm>
#include <cstring>

namespace gf {

const TGraphicClass TIcon::Class = {"TIcon", [] { return std::unique_ptr<TGraphic>(new TIcon); }};

namespace {

constexpr int MaxIconSide = 4096;

[[noreturn]] void InvalidIcon() {
  throw EInvalidGraphic("Invalid icon");
}

// Decodes one image resource: a bitmap header, its colour table, the colour rows and
// the mask rows, both bottom-up.
std::unique_ptr<TIconImage> DecodeIconBitmap(const std::vector<uint8_t>& Res) {
  if (Res.size() < 40)
    InvalidIcon();
  const uint8_t* p = Res.data();
  const uint32_t headerSize = Le32(p);
  const auto width = static_cast<int32_t>(Le32(p + 4));
  const auto doubleHeight = static_cast<int32_t>(Le32(p + 8));
  const uint16_t bits = Le16(p + 14);
  const uint32_t compression = Le32(p + 16);
  const uint32_t used = Le32(p + 32);
  if (headerSize < 40 || headerSize > Res.size() || compression != 0 || width <= 0 ||
      width > MaxIconSide || doubleHeight <= 0 || doubleHeight % 2 != 0 ||
      doubleHeight / 2 > MaxIconSide)
    InvalidIcon();
  if (bits != 1 && bits != 4 && bits != 8 && bits != 24 && bits != 32)
    InvalidIcon();
  const int height = doubleHeight / 2;
  uint32_t colors = 0;
  if (bits <= 8) {
    colors = used == 0 ? 1u << bits : used;
    if (colors > (1u << bits))
      InvalidIcon();
  }
  const std::size_t size = Res.size();
  std::size_t offset = headerSize;
  if (colors * 4 > size - offset)
    InvalidIcon();
  const uint8_t* table = p + offset;
  offset += colors * 4;
  const auto colorRow = static_cast<std::size_t>(DibRowBytes(width, bits));
  const auto maskRow = static_cast<std::size_t>(DibRowBytes(width, 1));
  const auto h = static_cast<std::size_t>(height);
  if (colorRow * h > size - offset)
    InvalidIcon();
  const uint8_t* colorBits = p + offset;
  offset += colorRow * h;
  if (maskRow * h > size - offset)
    InvalidIcon();
  const uint8_t* maskBits = p + offset;

  auto image = std::make_unique<TIconImage>();
  image->Width = width;
  image->Height = height;
  const std::size_t n = static_cast<std::size_t>(width) * h;
  image->Color.resize(n);
  image->Mask.resize(n);
  std::vector<uint8_t> alpha(bits == 32 ? n : 0);
  bool anyAlpha = false;
  for (int y = 0; y < height; ++y) {
    const std::size_t stored = h - 1 - static_cast<std::size_t>(y); // rows bottom-up
    const uint8_t* row = colorBits + stored * colorRow;
    const uint8_t* mrow = maskBits + stored * maskRow;
    for (int x = 0; x < width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                            static_cast<std::size_t>(x);
      TColorRef c = 0;
      if (bits <= 8) {
        const uint32_t index = GetIndexPixel(row, x, bits);
        if (index < colors)
          c = RGB(table[4 * index + 2], table[4 * index + 1], table[4 * index]);
      } else if (bits == 24) {
        c = Pixel24ToColorRef(GetPixel24(row, x));
      } else {
        const uint8_t* px = row + 4 * static_cast<std::size_t>(x);
        c = RGB(px[2], px[1], px[0]);
        alpha[i] = px[3];
        anyAlpha = anyAlpha || px[3] != 0;
      }
      image->Color[i] = c;
      image->Mask[i] = static_cast<uint8_t>(GetPixel1(mrow, x));
    }
  }
  // A 32-bit icon whose alpha bytes are all 0 predates alpha: its mask decides.
  if (anyAlpha)
    image->Alpha = std::move(alpha);
  return image;
}

} // namespace

void TIcon::LoadFromStream(TStream& Stream) {
  const int64_t base = Stream.GetPosition();
  const int64_t avail = Stream.GetSize() - base;
  uint8_t dir[6 + 16];
  if (avail < static_cast<int64_t>(sizeof dir) || Stream.ReadFully(dir, sizeof dir) != sizeof dir)
    InvalidIcon();
  if (Le16(dir) != 0 || Le16(dir + 2) != 1 || Le16(dir + 4) == 0)
    InvalidIcon();
  const uint32_t resSize = Le32(dir + 6 + 8);
  const uint32_t resOffset = Le32(dir + 6 + 12);
  if (resOffset > avail || resSize > avail - resOffset || resSize < 40)
    InvalidIcon();
  std::vector<uint8_t> res(resSize);
  Stream.SetPosition(base + resOffset);
  if (Stream.ReadFully(res.data(), res.size()) != res.size())
    InvalidIcon();
  FImage = DecodeIconBitmap(res);
  Changed();
}

void TIcon::SaveToStream(TStream& Stream) {
  if (!FImage)
    return;
  const TIconImage& im = *FImage;
  const auto colorRow = static_cast<std::size_t>(DibRowBytes(im.Width, 24));
  const auto maskRow = static_cast<std::size_t>(DibRowBytes(im.Width, 1));
  const auto h = static_cast<std::size_t>(im.Height);
  const auto image = static_cast<uint32_t>((colorRow + maskRow) * h);
  std::vector<uint8_t> out;
  out.reserve(22 + 40 + image);
  AppendLe16(out, 0);
  AppendLe16(out, 1);
  AppendLe16(out, 1);
  out.push_back(static_cast<uint8_t>(im.Width >= 256 ? 0 : im.Width));
  out.push_back(static_cast<uint8_t>(im.Height >= 256 ? 0 : im.Height));
  out.push_back(0); // colour count: true colour
  out.push_back(0);
  AppendLe16(out, 1);  // planes
  AppendLe16(out, 24); // bits
  AppendLe32(out, 40 + image);
  AppendLe32(out, 22);
  AppendLe32(out, 40);
  AppendLe32(out, static_cast<uint32_t>(im.Width));
  AppendLe32(out, static_cast<uint32_t>(im.Height * 2));
  AppendLe16(out, 1);
  AppendLe16(out, 24);
  AppendLe32(out, 0);
  AppendLe32(out, image);
  for (int i = 0; i < 4; ++i)
    AppendLe32(out, 0);
  const std::size_t rowsAt = out.size();
  out.resize(rowsAt + image, 0);
  for (std::size_t y = 0; y < h; ++y) {
    uint8_t* row = out.data() + rowsAt + (h - 1 - y) * colorRow;
    uint8_t* mrow = out.data() + rowsAt + h * colorRow + (h - 1 - y) * maskRow;
    for (std::size_t x = 0; x < static_cast<std::size_t>(im.Width); ++x) {
      const std::size_t i = y * static_cast<std::size_t>(im.Width) + x;
      SetPixel24(row, static_cast<int>(x), ColorRefToPixel24(im.Color[i]));
      if (im.Mask[i])
        SetPixel1(mrow, static_cast<int>(x), 1);
    }
  }
  Stream.WriteBuffer(out.data(), out.size());
}

void TIcon::Draw(TCanvas& Canvas, const TRect& Rect) {
  if (!FImage || !Canvas.Surface() || Rect.Width() <= 0 || Rect.Height() <= 0)
    return;
  const TIconImage& im = *FImage;
  const TDibSection& surface = *Canvas.Surface();
  const int x0 = std::max(Rect.Left, 0), x1 = std::min(Rect.Right, surface.Width());
  const int y0 = std::max(Rect.Top, 0), y1 = std::min(Rect.Bottom, surface.Height());
  for (int y = y0; y < y1; ++y) {
    const auto sy =
        static_cast<std::size_t>(static_cast<int64_t>(y - Rect.Top) * im.Height / Rect.Height());
    for (int x = x0; x < x1; ++x) {
      const auto sx =
          static_cast<std::size_t>(static_cast<int64_t>(x - Rect.Left) * im.Width / Rect.Width());
      const std::size_t i = sy * static_cast<std::size_t>(im.Width) + sx;
      const TColorRef c = im.Color[i];
      if (!im.Alpha.empty()) {
        const unsigned a = im.Alpha[i];
        if (a == 0)
          continue;
        if (a == 255) {
          Canvas.SetPixel(x, y, c);
          continue;
        }
        const TColorRef d = Canvas.GetPixel(x, y);
        auto mix = [a](unsigned s, unsigned t) {
          return static_cast<uint8_t>((s * a + t * (255 - a) + 127) / 255);
        };
        Canvas.SetPixel(x, y,
                        RGB(mix(c & 0xFF, d & 0xFF), mix((c >> 8) & 0xFF, (d >> 8) & 0xFF),
                            mix((c >> 16) & 0xFF, (d >> 16) & 0xFF)));
      } else if (im.Mask[i]) {
        // Screen AND mask, then XOR colour: a masked pixel keeps what is beneath
        // (its colour is normally black).
        if (c != 0)
          Canvas.SetPixel(x, y, Canvas.GetPixel(x, y) ^ c);
      } else {
        Canvas.SetPixel(x, y, c);
      }
    }
  }
}

void TIcon::SetWidth(int) {
  throw EInvalidGraphic("Cannot change the size of an icon");
}
void TIcon::SetHeight(int) {
  throw EInvalidGraphic("Cannot change the size of an icon");
}

void TIcon::SetHandle(std::unique_ptr<TIconImage> Image) {
  FImage = std::move(Image);
  Changed();
}

std::unique_ptr<TIconImage> CreateIconIndirect(const TIconInfo& Info) {
  const TDibSection* color = Info.hbmColor;
  const TDibSection* mask = Info.hbmMask;
  if (!color || !mask || color->Width() != mask->Width() || color->Height() != mask->Height())
    return nullptr;
  auto image = std::make_unique<TIconImage>();
  image->Width = color->Width();
  image->Height = color->Height();
  const std::size_t n =
      static_cast<std::size_t>(image->Width) * static_cast<std::size_t>(image->Height);
  image->Color.resize(n);
  image->Mask.resize(n);
  for (int y = 0; y < image->Height; ++y)
    for (int x = 0; x < image->Width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(image->Width) +
                            static_cast<std::size_t>(x);
      image->Color[i] = color->PixelColor(x, y);
      image->Mask[i] = mask->PixelColor(x, y) != 0 ? 1 : 0;
    }
  return image;
}

} // namespace gf
