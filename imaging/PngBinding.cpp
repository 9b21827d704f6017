#include "PngBinding.h"

#include "CallBoundary.h"
#include "PngGraphic.h"

#include <cstdio>
#include <exception>

namespace gf {

// What the callbacks share with the entry that runs libpng (libpng's error pointer).
struct TPngContext {
  TStream* Stream = nullptr;
  std::jmp_buf* Jump = nullptr; // the protected call running, if any
  std::exception_ptr Error;     // from the stream, rethrown after the jump
  char Message[256] = {};       // libpng's error text
  std::vector<std::string>* Warnings = nullptr;
};

namespace {

TPngContext& ContextOf(png_structp Png) {
  return *static_cast<TPngContext*>(png_get_error_ptr(Png));
}

// Never returns into libpng. Outside a protected call (while libpng makes its
// structures) libpng's own jump target is the one to take.
extern "C" void PngErrorCallback(png_structp Png, png_const_charp Message) {
  TPngContext& ctx = ContextOf(Png);
  std::snprintf(ctx.Message, sizeof ctx.Message, "%s", Message ? Message : "libpng error");
  if (!ctx.Jump)
    png_longjmp(Png, 1);
  std::longjmp(*ctx.Jump, 1);
}

extern "C" void PngWarningCallback(png_structp Png, png_const_charp Message) {
  try {
    ContextOf(Png).Warnings->emplace_back(Message ? Message : "");
  } catch (...) {
    // Out of memory for a warning's text: the warning is lost, the image is not.
  }
}

extern "C" void PngReadCallback(png_structp Png, png_bytep Data, size_t Length) {
  TPngContext& ctx = ContextOf(Png);
  if (!KeepException(ctx.Error, [&] { ctx.Stream->ReadBuffer(Data, Length); }))
    png_error(Png, "Stream read error");
}

extern "C" void PngWriteCallback(png_structp Png, png_bytep Data, size_t Length) {
  TPngContext& ctx = ContextOf(Png);
  // A short write must not end in a PNG reported as saved.
  if (!KeepException(ctx.Error, [&] { ctx.Stream->WriteBuffer(Data, Length); }))
    png_error(Png, "Stream write error");
}

extern "C" void PngFlushCallback(png_structp) {}

[[noreturn]] void Raise(TPngContext& Ctx) {
  RethrowKept(Ctx.Error);
  RaisePngError(Ctx.Message);
}

template <typename F> void Run(TPngContext& Ctx, F&& Call) {
  if (!ProtectedCall(Ctx.Jump, Call))
    Raise(Ctx);
}

std::unique_ptr<TPngContext> NewContext(TStream& Stream, std::vector<std::string>& Warnings) {
  auto ctx = std::make_unique<TPngContext>();
  ctx->Stream = &Stream;
  ctx->Warnings = &Warnings;
  return ctx;
}

} // namespace

// --- Reading -----------------------------------------------------------------------

TPngReader::TPngReader(TStream& Stream, std::vector<std::string>& Warnings)
    : FContext(NewContext(Stream, Warnings)) {
  FPng = png_create_read_struct(PNG_LIBPNG_VER_STRING, FContext.get(), PngErrorCallback,
                                PngWarningCallback);
  if (!FPng)
    RaisePngError("png_create_read_struct failed");
  FInfo = png_create_info_struct(FPng);
  if (!FInfo) {
    png_destroy_read_struct(&FPng, nullptr, nullptr);
    RaisePngError("png_create_info_struct failed");
  }
  png_set_read_fn(FPng, FContext.get(), PngReadCallback);
}

TPngReader::~TPngReader() {
  png_destroy_read_struct(&FPng, &FInfo, nullptr);
}

void TPngReader::SetSigBytes(int Count) {
  Run(*FContext, [&] { png_set_sig_bytes(FPng, Count); });
}

void TPngReader::ReadInfo() {
  Run(*FContext, [&] { png_read_info(FPng, FInfo); });
}

void TPngReader::GetIHDR(png_uint_32& Width, png_uint_32& Height, int& BitDepth, int& ColorType,
                         int& Interlace) {
  Run(*FContext, [&] {
    png_get_IHDR(FPng, FInfo, &Width, &Height, &BitDepth, &ColorType, &Interlace, nullptr, nullptr);
  });
}

void TPngReader::SetStrip16() {
  Run(*FContext, [&] { png_set_strip_16(FPng); });
}

void TPngReader::SetSwap() {
  Run(*FContext, [&] { png_set_swap(FPng); });
}

void TPngReader::SetBgr() {
  Run(*FContext, [&] { png_set_bgr(FPng); });
}

bool TPngReader::GetSRGB(int& Intent) {
  png_uint_32 found = 0;
  Run(*FContext, [&] { found = png_get_sRGB(FPng, FInfo, &Intent); });
  return found != 0;
}

void TPngReader::SetSRGB(int Intent) {
  Run(*FContext, [&] { png_set_sRGB(FPng, FInfo, Intent); });
}

bool TPngReader::GetGAMA(double& FileGamma) {
  png_uint_32 found = 0;
  Run(*FContext, [&] { found = png_get_gAMA(FPng, FInfo, &FileGamma); });
  return found != 0;
}

void TPngReader::SetGamma(double ScreenGamma, double FileGamma) {
  Run(*FContext, [&] { png_set_gamma(FPng, ScreenGamma, FileGamma); });
}

bool TPngReader::GetBKGD(png_color_16p& Background) {
  png_uint_32 found = 0;
  Run(*FContext, [&] { found = png_get_bKGD(FPng, FInfo, &Background); });
  return found != 0 && Background;
}

void TPngReader::SetBackground(png_const_color_16p Background, int GammaCode, int NeedExpand,
                               double BackgroundGamma) {
  Run(*FContext,
      [&] { png_set_background(FPng, Background, GammaCode, NeedExpand, BackgroundGamma); });
}

bool TPngReader::GetPHYs(png_uint_32& X, png_uint_32& Y, int& Unit) {
  png_uint_32 found = 0;
  Run(*FContext, [&] { found = png_get_pHYs(FPng, FInfo, &X, &Y, &Unit); });
  return found != 0;
}

int TPngReader::SetInterlaceHandling() {
  int passes = 1;
  Run(*FContext, [&] { passes = png_set_interlace_handling(FPng); });
  return passes;
}

void TPngReader::ReadUpdateInfo() {
  Run(*FContext, [&] { png_read_update_info(FPng, FInfo); });
}

bool TPngReader::GetPLTE(png_colorp& Entries, int& Count) {
  png_uint_32 found = 0;
  Run(*FContext, [&] { found = png_get_PLTE(FPng, FInfo, &Entries, &Count); });
  return found != 0 && Entries;
}

std::size_t TPngReader::GetRowbytes() {
  std::size_t bytes = 0;
  Run(*FContext, [&] { bytes = png_get_rowbytes(FPng, FInfo); });
  return bytes;
}

void TPngReader::ReadRow(png_bytep Row) {
  Run(*FContext, [&] { png_read_row(FPng, Row, nullptr); });
}

void TPngReader::ReadImage(png_bytepp Rows) {
  Run(*FContext, [&] { png_read_image(FPng, Rows); });
}

// --- Writing -----------------------------------------------------------------------

TPngWriter::TPngWriter(TStream& Stream, std::vector<std::string>& Warnings)
    : FContext(NewContext(Stream, Warnings)) {
  FPng = png_create_write_struct(PNG_LIBPNG_VER_STRING, FContext.get(), PngErrorCallback,
                                 PngWarningCallback);
  if (!FPng)
    RaisePngError("png_create_write_struct failed");
  FInfo = png_create_info_struct(FPng);
  if (!FInfo) {
    png_destroy_write_struct(&FPng, nullptr);
    RaisePngError("png_create_info_struct failed");
  }
  png_set_write_fn(FPng, FContext.get(), PngWriteCallback, PngFlushCallback);
}

TPngWriter::~TPngWriter() {
  png_destroy_write_struct(&FPng, &FInfo);
}

void TPngWriter::SetIHDR(png_uint_32 Width, png_uint_32 Height, int BitDepth, int ColorType,
                         int Interlace) {
  Run(*FContext, [&] {
    png_set_IHDR(FPng, FInfo, Width, Height, BitDepth, ColorType, Interlace,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  });
}

void TPngWriter::SetPLTE(png_const_colorp Entries, int Count) {
  Run(*FContext, [&] { png_set_PLTE(FPng, FInfo, Entries, Count); });
}

void TPngWriter::SetPHYs(png_uint_32 X, png_uint_32 Y, int Unit) {
  Run(*FContext, [&] { png_set_pHYs(FPng, FInfo, X, Y, Unit); });
}

void TPngWriter::SetGAMA(double FileGamma) {
  Run(*FContext, [&] { png_set_gAMA(FPng, FInfo, FileGamma); });
}

void TPngWriter::SetBKGD(png_const_color_16p Background) {
  Run(*FContext, [&] { png_set_bKGD(FPng, FInfo, Background); });
}

void TPngWriter::SetTRNS(png_const_bytep Alpha, int Count, png_const_color_16p Colour) {
  Run(*FContext, [&] { png_set_tRNS(FPng, FInfo, Alpha, Count, Colour); });
}

void TPngWriter::SetCompressionLevel(int Level) {
  Run(*FContext, [&] { png_set_compression_level(FPng, Level); });
}

void TPngWriter::WriteInfo() {
  Run(*FContext, [&] { png_write_info(FPng, FInfo); });
}

void TPngWriter::SetBgr() {
  Run(*FContext, [&] { png_set_bgr(FPng); });
}

int TPngWriter::SetInterlaceHandling() {
  int passes = 1;
  Run(*FContext, [&] { passes = png_set_interlace_handling(FPng); });
  return passes;
}

void TPngWriter::WriteRow(png_const_bytep Row) {
  Run(*FContext, [&] { png_write_row(FPng, Row); });
}

void TPngWriter::WriteEnd() {
  Run(*FContext, [&] { png_write_end(FPng, FInfo); });
}

} // namespace gf
