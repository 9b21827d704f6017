// A digest of found files, to tell whether a change left every found byte as it was.
// Not a cryptographic hash: it only has to differ when the bytes differ.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

namespace gf::bench {

class TDigest {
public:
  void Add(const void* Data, std::size_t Count) {
    auto* p = static_cast<const uint8_t*>(Data);
    for (; Count >= 8; p += 8, Count -= 8) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      Mix(w);
    }
    uint64_t tail = 0;
    std::memcpy(&tail, p, Count);
    Mix(tail ^ (uint64_t{Count} << 56));
  }
  void Add(const std::string& Text) { Add(Text.data(), Text.size()); }
  uint64_t Value() const { return FState; }
  std::string Hex() const {
    char buf[17];
    std::snprintf(buf, sizeof buf, "%016llx", static_cast<unsigned long long>(FState));
    return buf;
  }

private:
  void Mix(uint64_t W) {
    FState = (FState ^ W) * 0x9E3779B97F4A7C15ull;
    FState ^= FState >> 29;
  }
  uint64_t FState = 0xCBF29CE484222325ull;
};

} // namespace gf::bench
