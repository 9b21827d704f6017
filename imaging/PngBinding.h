// Module QvCLib.
// The codec unit's binding onto libpng that the PNG image class calls: owners of the
// read and write structures (each with its info structure) over the library's
// streams, and one entry per libpng call.
//
// libpng reports errors through a callback that must not return, and a C++ exception
// cannot be thrown through libpng's C frames with defined behaviour. Each entry
// therefore runs its one libpng call in a small protected call that points the
// structure's context at a jump target of its own frame, which holds nothing with a
// destructor, and points it back when the call returns, so that it never points at a
// finished frame. The error callback keeps libpng's text and jumps there; the entry
// raises once libpng's frames are left behind: the stream's own exception when the
// stream failed, else EPNGError with libpng's message. Warnings never interrupt; they
// are kept. After a raise, the structures may only be destroyed.
#pragma once

#include "Streams.h"

#include <png.h>

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace gf {

struct TPngContext;

// One read structure and its info structure, destroyed together; libpng reads Stream
// (exactly the bytes it asks for; a stream that ends first raises its read error).
// Making them raises EPNGError "png_create_read_struct failed" or
// "png_create_info_struct failed". Warnings go to Warnings, which must outlive this.
class TPngReader {
public:
  TPngReader(TStream& Stream, std::vector<std::string>& Warnings);
  ~TPngReader();
  TPngReader(const TPngReader&) = delete;
  TPngReader& operator=(const TPngReader&) = delete;

  void SetSigBytes(int Count);
  void ReadInfo();
  void GetIHDR(png_uint_32& Width, png_uint_32& Height, int& BitDepth, int& ColorType,
               int& Interlace);
  void SetStrip16();
  void SetSwap();
  void SetBgr();
  bool GetSRGB(int& Intent);
  void SetSRGB(int Intent);
  bool GetGAMA(double& FileGamma);
  void SetGamma(double ScreenGamma, double FileGamma);
  bool GetBKGD(png_color_16p& Background);
  void SetBackground(png_const_color_16p Background, int GammaCode, int NeedExpand,
                     double BackgroundGamma);
  bool GetPHYs(png_uint_32& X, png_uint_32& Y, int& Unit);
  int SetInterlaceHandling();
  void ReadUpdateInfo();
  bool GetPLTE(png_colorp& Entries, int& Count);
  std::size_t GetRowbytes();
  void ReadRow(png_bytep Row);
  void ReadImage(png_bytepp Rows);

private:
  std::unique_ptr<TPngContext> FContext;
  png_structp FPng = nullptr;
  png_infop FInfo = nullptr;
};

// One write structure and its info structure, destroyed together; libpng writes to
// Stream, whose short write raises its own error.
class TPngWriter {
public:
  TPngWriter(TStream& Stream, std::vector<std::string>& Warnings);
  ~TPngWriter();
  TPngWriter(const TPngWriter&) = delete;
  TPngWriter& operator=(const TPngWriter&) = delete;

  void SetIHDR(png_uint_32 Width, png_uint_32 Height, int BitDepth, int ColorType, int Interlace);
  void SetPLTE(png_const_colorp Entries, int Count);
  void SetPHYs(png_uint_32 X, png_uint_32 Y, int Unit);
  void SetGAMA(double FileGamma);
  void SetBKGD(png_const_color_16p Background);
  void SetTRNS(png_const_bytep Alpha, int Count, png_const_color_16p Colour);
  void SetCompressionLevel(int Level);
  void WriteInfo();
  void SetBgr();
  int SetInterlaceHandling();
  void WriteRow(png_const_bytep Row);
  void WriteEnd();

private:
  std::unique_ptr<TPngContext> FContext;
  png_structp FPng = nullptr;
  png_infop FInfo = nullptr;
};

} // namespace gf
