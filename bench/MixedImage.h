// A generated card image for the benchmarks: a realistic mix of zero and random
// sectors with pictures, MP3, WAV, AVI, MOV and MPEG files at sector starts, as a
// camera or a player leaves them, and the damage cards show: MPEG program streams
// without an end code (most muxers leave it out) and an AVI whose tail was written
// over by the files after it, so that its header declares more than is left.
#pragma once

#include "ByteOrder.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace gf::bench {

class TRandom {
public:
  explicit TRandom(uint64_t Seed) : FState(Seed) {}
  uint64_t Next() { // xorshift64*
    FState ^= FState >> 12;
    FState ^= FState << 25;
    FState ^= FState >> 27;
    return FState * 0x2545F4914F6CDD1Dull;
  }
  uint64_t Below(uint64_t N) { return Next() % N; }
  void Fill(uint8_t* P, std::size_t N) {
    for (; N >= 8; P += 8, N -= 8) {
      uint64_t v = Next();
      std::memcpy(P, &v, 8);
    }
    for (uint64_t v = Next(); N > 0; --N, v >>= 8)
      *P++ = static_cast<uint8_t>(v);
  }

private:
  uint64_t FState;
};

using TBytes = std::vector<uint8_t>;

// Each writer fills Out (sized by the caller, a whole file) with a structurally
// valid file of its format and returns the file's length.
struct TImageWriter {
  TRandom& Rng;

  std::size_t Jpeg(uint8_t* Out, std::size_t N) {
    Rng.Fill(Out, N);
    static const uint8_t head[] = {0xFF, 0xD8, 0xFF, 0xE1, 0x00, 0x10, 'E', 'x', 'i', 'f', 0, 0};
    std::memcpy(Out, head, sizeof head);
    for (std::size_t i = sizeof head; i + 1 < N; ++i) // entropy data: 0xFF is stuffed
      if (Out[i] == 0xFF)
        Out[++i] = 0x00;
    Out[N - 2] = 0xFF;
    Out[N - 1] = 0xD9;
    return N;
  }

  std::size_t Bmp(uint8_t* Out, std::size_t N) {
    Rng.Fill(Out, N);
    std::memset(Out, 0, 54);
    Out[0] = 'B';
    Out[1] = 'M';
    PutLe32(Out + 2, static_cast<uint32_t>(N));
    PutLe32(Out + 10, 54);
    PutLe32(Out + 14, 40);
    PutLe32(Out + 18, 1024);
    PutLe32(Out + 22, static_cast<uint32_t>((N - 54) / 3072));
    Out[26] = 1;
    Out[28] = 24;
    return N;
  }

  std::size_t Mp3(uint8_t* Out, std::size_t N) {
    // ID3v2 tag of 1034 bytes, MPEG-1 Layer III frames at 128 kbit/s and 44100 Hz
    // (417 or 418 bytes, as an encoder pads them), then an ID3v1 tag.
    std::size_t at = 0;
    std::memset(Out, 0, 1034);
    std::memcpy(Out, "ID3\x04\x00\x00\x00\x00\x08\x00", 10);
    at = 1034;
    double exact = 0;
    while (at + 418 + 128 <= N) {
      double next = exact + 144000.0 * 128 / 44100;
      std::size_t len = static_cast<std::size_t>(next) - static_cast<std::size_t>(exact);
      exact = next;
      Rng.Fill(Out + at, len);
      Out[at] = 0xFF;
      Out[at + 1] = 0xFB;
      Out[at + 2] = len == 418 ? 0x92 : 0x90;
      Out[at + 3] = 0x64;
      at += len;
    }
    std::memset(Out + at, ' ', 128);
    std::memcpy(Out + at, "TAG", 3);
    return at + 128;
  }

  std::size_t Wav(uint8_t* Out, std::size_t N) {
    const std::size_t data = (N - 44) & ~std::size_t{3};
    std::memcpy(Out, "RIFF\0\0\0\0WAVEfmt ", 16);
    PutLe32(Out + 4, static_cast<uint32_t>(36 + data));
    PutLe32(Out + 16, 16);
    PutLe16(Out + 20, 1); // PCM
    PutLe16(Out + 22, 2); // stereo
    PutLe32(Out + 24, 44100);
    PutLe32(Out + 28, 44100 * 4);
    PutLe16(Out + 32, 4);
    PutLe16(Out + 34, 16);
    std::memcpy(Out + 36, "data", 4);
    PutLe32(Out + 40, static_cast<uint32_t>(data));
    for (std::size_t i = 0; i < data; i += 2) { // a quiet tone with noise
      int16_t v = static_cast<int16_t>(((i / 4) % 100 < 50 ? 3000 : -3000) + int(Rng.Below(64)));
      std::memcpy(Out + 44 + i, &v, 2);
    }
    return 44 + data;
  }

  std::size_t Avi(uint8_t* Out, std::size_t N) {
    // RIFF "AVI ": LIST hdrl (avih), LIST movi with video chunks, idx1.
    std::size_t at = 12;
    std::memcpy(Out, "RIFF\0\0\0\0AVI ", 12);
    std::memcpy(Out + at, "LIST\x44\0\0\0hdrlavih\x38\0\0\0", 20);
    std::memset(Out + at + 20, 0, 56);
    at += 76;
    const std::size_t moviAt = at;
    std::memcpy(Out + at, "LIST\0\0\0\0movi", 12);
    at += 12;
    std::size_t chunks = 0;
    while (true) {
      std::size_t len = 4000 + Rng.Below(8000) * 2;
      if (at + 8 + len + 16 * (chunks + 1) + 8 > N)
        break;
      std::memcpy(Out + at, "00dc", 4);
      PutLe32(Out + at + 4, static_cast<uint32_t>(len));
      Rng.Fill(Out + at + 8, len);
      at += 8 + len;
      ++chunks;
    }
    PutLe32(Out + moviAt + 4, static_cast<uint32_t>(at - moviAt - 8));
    std::memcpy(Out + at, "idx1", 4);
    PutLe32(Out + at + 4, static_cast<uint32_t>(16 * chunks));
    std::memset(Out + at + 8, 0, 16 * chunks);
    at += 8 + 16 * chunks;
    PutLe32(Out + 4, static_cast<uint32_t>(at - 8));
    return at;
  }

  std::size_t Mov(uint8_t* Out, std::size_t N) {
    // moov (with an mvhd), free, mdat.
    const std::size_t moov = 4096;
    std::memset(Out, 0, moov + 8);
    PutBe32(Out, moov);
    std::memcpy(Out + 4, "moov", 4);
    PutBe32(Out + 8, 108);
    std::memcpy(Out + 12, "mvhd", 4);
    PutBe32(Out + 8 + 108, moov - 116);
    std::memcpy(Out + 8 + 112, "trak", 4);
    PutBe32(Out + moov, 8);
    std::memcpy(Out + moov + 4, "free", 4);
    const std::size_t mdat = N - moov - 8;
    PutBe32(Out + moov + 8, static_cast<uint32_t>(mdat));
    std::memcpy(Out + moov + 12, "mdat", 4);
    Rng.Fill(Out + moov + 16, mdat - 8);
    return N;
  }

  std::size_t Mpeg(uint8_t* Out, std::size_t N, bool EndCode = true) {
    // MPEG-1 system stream: packs of 2048 bytes with a video or an audio packet each
    // (the first with a system header), then the end code where the muxer writes one.
    std::size_t at = 0;
    bool first = true;
    uint64_t scr = 0; // the system clock, restarting with every stream
    while (at + 2048 + 4 <= N) {
      uint8_t pack[12] = {0, 0, 1, 0xBA, 0, 0, 0, 0, 0, 0x80, 0x1B, 0x91};
      pack[4] = static_cast<uint8_t>(0x21 | (scr >> 29 & 0x0E)); // '0010', SCR 32..30
      pack[5] = static_cast<uint8_t>(scr >> 22);
      pack[6] = static_cast<uint8_t>((scr >> 14) | 1);
      pack[7] = static_cast<uint8_t>(scr >> 7);
      pack[8] = static_cast<uint8_t>((scr << 1) | 1);
      scr += 3600;
      std::memcpy(Out + at, pack, 12);
      std::size_t p = at + 12;
      if (first) {
        static const uint8_t sys[18] = {0,    0,    1,    0xBB, 0,    12,   0x80, 0x1B, 0x91,
                                        0x04, 0xE1, 0xFF, 0xE0, 0xE0, 0x2E, 0xC0, 0xC0, 0x20};
        std::memcpy(Out + p, sys, 18);
        p += 18;
        first = false;
      }
      const std::size_t len = at + 2048 - p - 6;
      Out[p] = 0;
      Out[p + 1] = 0;
      Out[p + 2] = 1;
      Out[p + 3] = Rng.Below(4) ? 0xE0 : 0xC0;
      PutBe16(Out + p + 4, static_cast<uint32_t>(len));
      Rng.Fill(Out + p + 6, len);
      at += 2048;
    }
    if (!EndCode)
      return at;
    static const uint8_t end[4] = {0, 0, 1, 0xB9};
    std::memcpy(Out + at, end, 4);
    return at + 4;
  }
};

struct TPlaced {
  std::map<std::string, int> Files;
  std::map<std::string, uint64_t> Bytes;
  int Damaged = 0;   // AVI files cut short, their header left declaring the whole
  int NoEndCode = 0; // MPEG streams without an end code
};

// Regions in turn: zero runs, random runs and files, each starting a sector.
inline TBytes MakeMixedImage(std::size_t Mib, TPlaced& Placed) {
  TBytes img(Mib << 20, 0);
  TRandom rng(20240601);
  TImageWriter w{rng};
  std::size_t at = 0;
  const std::size_t size = img.size();
  while (at < size) {
    const uint64_t pick = rng.Below(100);
    std::size_t n = 0;
    std::string key;
    if (pick < 30) { // zeros: erased or never written
      n = (1 + rng.Below(32768)) * 512;
      at += n;
      continue;
    }
    if (pick < 60) { // random: data of deleted files no recognizer knows
      n = std::min<std::size_t>((1 + rng.Below(24576)) * 512, size - at);
      rng.Fill(img.data() + at, n);
      at += n;
      continue;
    }
    const std::size_t room = size - at;
    auto sized = [&](std::size_t lo, std::size_t hi) {
      return std::min<std::size_t>(lo + rng.Below(hi - lo), room);
    };
    uint8_t* out = img.data() + at;
    if (pick < 75) {
      n = sized(500000, 3000000);
      if (n < 4096)
        break;
      n = rng.Below(4) ? w.Jpeg(out, n) : w.Bmp(out, n);
      key = out[0] == 'B' ? "BMP" : "JPG";
    } else if (pick < 82) {
      n = sized(1000000, 8000000);
      if (n < 8192)
        break;
      n = w.Mp3(out, n);
      key = "MP3";
    } else if (pick < 87) {
      n = sized(500000, 10000000);
      if (n < 8192)
        break;
      n = w.Wav(out, n);
      key = "WAV";
    } else if (pick < 92) {
      n = sized(2000000, 20000000);
      if (n < 65536)
        break;
      n = w.Avi(out, n);
      key = "AVI";
      if (rng.Below(3) == 0) { // written over after its first half: the header lies
        n = n / 2 / 512 * 512;
        ++Placed.Damaged;
      }
    } else if (pick < 96) {
      n = sized(2000000, 20000000);
      if (n < 65536)
        break;
      n = w.Mov(out, n);
      key = "MOV";
    } else {
      n = sized(2000000, 20000000);
      if (n < 65536)
        break;
      const bool endCode = rng.Below(2) == 0;
      n = w.Mpeg(out, n, endCode);
      key = "MPG";
      Placed.NoEndCode += endCode ? 0 : 1;
    }
    ++Placed.Files[key];
    Placed.Bytes[key] += n;
    at += (n + 511) / 512 * 512;
  }
  return img;
}

// A reformatted camera card: the file system's area, then Count JPEG pictures one
// after another in 32 KiB clusters, of 50 KB to 5 MB with small ones as common as
// large ones (sizes spread evenly on a log scale). Pictures above the JPEG limit of
// 3 MiB come back cut at it.
inline TBytes MakeCameraImage(int Count, TPlaced& Placed) {
  constexpr std::size_t cluster = 32768, area = 4 << 20;
  TRandom rng(20240602);
  std::vector<std::size_t> sizes;
  std::size_t total = area;
  for (int i = 0; i < Count; ++i) {
    const double u = static_cast<double>(rng.Below(1u << 30)) / (1u << 30);
    const auto n = static_cast<std::size_t>(50000.0 * std::pow(100.0, u));
    sizes.push_back(n);
    total += (n + cluster - 1) / cluster * cluster;
  }
  TBytes img(total, 0);
  TImageWriter w{rng};
  std::size_t at = area;
  for (std::size_t n : sizes) {
    w.Jpeg(img.data() + at, n);
    ++Placed.Files["JPG"];
    Placed.Bytes["JPG"] += n;
    at += (n + cluster - 1) / cluster * cluster;
  }
  return img;
}

inline TBytes MakeRandomImage(std::size_t Mib) {
  TBytes img(Mib << 20);
  TRandom rng(12345);
  rng.Fill(img.data(), img.size());
  for (std::size_t at = 0; at + 4 <= img.size(); at += 2 << 20)
    std::memcpy(img.data() + at, "\xFF\xD8\xFF\xE1", 4);
  return img;
}

} // namespace gf::bench
