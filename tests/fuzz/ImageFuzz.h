// Shared by the image decoders' fuzz targets: what a load may end in.
#pragma once

#include "Streams.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>

namespace gf {

inline std::unique_ptr<TMemoryStream> FuzzStream(const uint8_t* Data, std::size_t Size) {
  auto s = std::make_unique<TMemoryStream>();
  if (Size)
    s->WriteBuffer(Data, Size);
  s->SetPosition(0);
  return s;
}

// Pictures above this many pixels are skipped before decoding: the library accepts
// up to a gigabyte of pixels, which a fuzzer would spend its time filling.
constexpr uint64_t FuzzMaxPixels = 4u << 20;

} // namespace gf
