// libjpeg called directly, in memory, as an independent reference for the JPEG image
// class (tests) and as the yardstick of its speed (bench). Failures throw
// std::runtime_error once libjpeg's frames are left.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <jpeglib.h>
#include <stdexcept>
#include <string>
#include <vector>

namespace gf::test {

struct TDirectError : jpeg_error_mgr {
  std::jmp_buf Jump;
  char Message[JMSG_LENGTH_MAX] = {};
  long Warnings = 0;
};

extern "C" inline void DirectErrorExit(j_common_ptr Info) {
  auto* e = static_cast<TDirectError*>(Info->err);
  (*e->format_message)(Info, e->Message);
  std::longjmp(e->Jump, 1);
}
extern "C" inline void DirectEmit(j_common_ptr Info, int Level) {
  if (Level < 0)
    ++static_cast<TDirectError*>(Info->err)->Warnings;
}

struct TDirectPicture {
  uint32_t Width = 0, Height = 0;
  int Components = 3;
  std::vector<uint8_t> Pixels; // rows from the top, components interleaved (RGB or grey)
  long Warnings = 0;
};

struct TDirectOptions {
  int Quality = 75;
  bool Progressive = false;
  J_COLOR_SPACE InColorSpace = JCS_UNKNOWN; // unknown: grey or RGB by the components
  uint8_t DensityUnit = 1;
  uint16_t XDensity = 72, YDensity = 72;
};

// Encodes Picture (Components 1, 3 or 4) as a JPEG.
inline std::vector<uint8_t> DirectEncode(const TDirectPicture& Picture,
                                         const TDirectOptions& O = {}) {
  jpeg_compress_struct c{};
  TDirectError e;
  c.err = jpeg_std_error(&e);
  e.error_exit = DirectErrorExit;
  e.emit_message = DirectEmit;
  unsigned char* out = nullptr;
  unsigned long outSize = 0;
  if (setjmp(e.Jump)) {
    jpeg_destroy_compress(&c);
    std::free(out);
    throw std::runtime_error(e.Message);
  }
  jpeg_create_compress(&c);
  jpeg_mem_dest(&c, &out, &outSize);
  c.image_width = Picture.Width;
  c.image_height = Picture.Height;
  c.input_components = Picture.Components;
  c.in_color_space = O.InColorSpace != JCS_UNKNOWN ? O.InColorSpace
                     : Picture.Components == 1     ? JCS_GRAYSCALE
                                                   : JCS_RGB;
  jpeg_set_defaults(&c);
  c.density_unit = O.DensityUnit;
  c.X_density = O.XDensity;
  c.Y_density = O.YDensity;
  jpeg_set_quality(&c, O.Quality, TRUE);
  if (O.Progressive)
    jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  const std::size_t stride =
      std::size_t{Picture.Width} * static_cast<std::size_t>(Picture.Components);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(Picture.Pixels.data() + c.next_scanline * stride);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  std::vector<uint8_t> bytes(out, out + outSize);
  jpeg_destroy_compress(&c);
  std::free(out);
  return bytes;
}

// Decodes a JPEG to grey (grey files) or RGB (all others).
inline TDirectPicture DirectDecode(const std::vector<uint8_t>& Bytes) {
  jpeg_decompress_struct d{};
  TDirectError e;
  d.err = jpeg_std_error(&e);
  e.error_exit = DirectErrorExit;
  e.emit_message = DirectEmit;
  TDirectPicture p;
  if (setjmp(e.Jump)) {
    jpeg_destroy_decompress(&d);
    throw std::runtime_error(e.Message);
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, Bytes.data(), static_cast<unsigned long>(Bytes.size()));
  jpeg_read_header(&d, TRUE);
  d.out_color_space = d.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_start_decompress(&d);
  p.Width = d.output_width;
  p.Height = d.output_height;
  p.Components = d.output_components;
  const std::size_t stride = std::size_t{p.Width} * static_cast<std::size_t>(p.Components);
  p.Pixels.resize(stride * p.Height);
  while (d.output_scanline < d.output_height) {
    JSAMPROW row = p.Pixels.data() + d.output_scanline * stride;
    jpeg_read_scanlines(&d, &row, 1);
  }
  jpeg_finish_decompress(&d);
  jpeg_destroy_decompress(&d);
  p.Warnings = e.Warnings;
  return p;
}

// The size a JPEG's header declares; false when libjpeg cannot read the header.
inline bool DirectHeaderSize(const uint8_t* Bytes, std::size_t Size, uint32_t& Width,
                             uint32_t& Height) {
  jpeg_decompress_struct d{};
  TDirectError e;
  d.err = jpeg_std_error(&e);
  e.error_exit = DirectErrorExit;
  e.emit_message = DirectEmit;
  if (setjmp(e.Jump)) {
    jpeg_destroy_decompress(&d);
    return false;
  }
  jpeg_create_decompress(&d);
  jpeg_mem_src(&d, Bytes, static_cast<unsigned long>(Size));
  jpeg_read_header(&d, TRUE);
  Width = d.image_width;
  Height = d.image_height;
  jpeg_destroy_decompress(&d);
  return true;
}

} // namespace gf::test
