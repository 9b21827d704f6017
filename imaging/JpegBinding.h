// Module QvCLib.
// The codec unit's binding onto libjpeg (IJG 6 interface, library version 62) that the JPEG image
// class calls: owners of the codec objects with their error manager, the decoded image's
// description, the compression parameters, source and destination managers over the
// library's streams, and one entry per libjpeg call.
//
// libjpeg's fatal errors must never return into it, and an exception cannot be thrown
// through its C frames (it is not built with unwind tables). Each libjpeg call therefore
// runs in one small protected call that points the error manager at a jump target of its
// own frame, which holds nothing with a destructor, and points it back when the call
// returns, so it never points at a finished frame. The error manager's exit formats the
// message and jumps there, and the entry raises once libjpeg's frames are left behind:
// the stream's own exception when the stream failed, else EJpegError with libjpeg's
// message. Warnings are only counted, and the messages that libjpeg shows (trace
// lines, when the error manager's trace level is raised) are only kept. After a
// raise, the codec objects may only be destroyed.
#pragma once

#include "Streams.h"

#include <cstdint>
#include <cstdio> // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

#include <memory>
#include <string>
#include <vector>

namespace gf {

struct TJpegErrorManager;

// Colour-space codes of the interface.
constexpr int JpegGrayscale = JCS_GRAYSCALE;
constexpr int JpegRgb = JCS_RGB;

// The codec object and its error manager, made together and destroyed together
// (jpeg_destroy_decompress, jpeg_destroy_compress). Making them raises EJpegError when
// libjpeg refuses, with nothing left allocated.
class TJpegDecompressor {
public:
  TJpegDecompressor();
  ~TJpegDecompressor();
  TJpegDecompressor(const TJpegDecompressor&) = delete;
  TJpegDecompressor& operator=(const TJpegDecompressor&) = delete;
  jpeg_decompress_struct* Codec() const { return FCodec.get(); }
  // Warnings libjpeg gave so far (corrupt data, a premature end of the data...).
  long Warnings() const;
  // The first 100 messages that libjpeg showed.
  const std::vector<std::string>& Messages() const;

private:
  std::unique_ptr<TJpegErrorManager> FError;
  std::unique_ptr<jpeg_decompress_struct> FCodec;
};

class TJpegCompressor {
public:
  TJpegCompressor();
  ~TJpegCompressor();
  TJpegCompressor(const TJpegCompressor&) = delete;
  TJpegCompressor& operator=(const TJpegCompressor&) = delete;
  jpeg_compress_struct* Codec() const { return FCodec.get(); }
  long Warnings() const;
  const std::vector<std::string>& Messages() const;

private:
  std::unique_ptr<TJpegErrorManager> FError;
  std::unique_ptr<jpeg_compress_struct> FCodec;
};

struct TJpegInfo {
  uint32_t Width = 0, Height = 0;
  int32_t Components = 0;
  uint8_t DensityUnit = 0; // 1 dots per inch, 2 dots per centimetre
  uint16_t XDensity = 0, YDensity = 0;
  int ColorSpace = 0; // the file's
};
void JpegGetDecompressInfo(const jpeg_decompress_struct* Decompressor, TJpegInfo& Info);
void JpegSetOutColorSpace(jpeg_decompress_struct* Decompressor, int ColorSpace);
void JpegSetCompressParams(jpeg_compress_struct* Compressor, uint32_t Width, uint32_t Height,
                           int Components, uint8_t DensityUnit, uint16_t XDensity,
                           uint16_t YDensity, int InColorSpace, int Quality, bool Progressive,
                           bool Optimize);
// The stream in the place of a C file: read and written in blocks of 4096 bytes, so a
// load leaves the stream after the last block it read. The stream is not owned.
void JpegStreamSource(jpeg_decompress_struct* Decompressor, TStream& Stream);
void JpegStreamDest(jpeg_compress_struct* Compressor, TStream& Stream);

// One entry per libjpeg call, raising as described above.
int JpegReadHeader(jpeg_decompress_struct* Decompressor, bool RequireImage);
void JpegStartDecompress(jpeg_decompress_struct* Decompressor);
uint32_t JpegReadScanlines(jpeg_decompress_struct* Decompressor, uint8_t** Rows, uint32_t Count);
void JpegFinishDecompress(jpeg_decompress_struct* Decompressor);
void JpegStartCompress(jpeg_compress_struct* Compressor, bool WriteAllTables);
uint32_t JpegWriteScanlines(jpeg_compress_struct* Compressor, uint8_t** Rows, uint32_t Count);
void JpegFinishCompress(jpeg_compress_struct* Compressor);

} // namespace gf
