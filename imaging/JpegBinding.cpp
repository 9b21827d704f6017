#include "JpegBinding.h"

#include "CallBoundary.h"
#include "JpegGraphic.h"

#include <jerror.h>

#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace gf {

namespace {

constexpr std::size_t BlockBytes = 4096;

struct TStreamSource : jpeg_source_mgr {
  TStream* Stream = nullptr;
  bool StartOfFile = true;
  JOCTET Buffer[BlockBytes];
};

struct TStreamDest : jpeg_destination_mgr {
  TStream* Stream = nullptr;
  JOCTET Buffer[BlockBytes];
};

} // namespace

struct TJpegErrorManager : jpeg_error_mgr {
  std::jmp_buf* Jump = nullptr; // the protected call running, if any
  char Message[JMSG_LENGTH_MAX] = {};
  long Warnings = 0;
  std::exception_ptr StreamError; // kept by a stream callback, raised after the jump
  static constexpr std::size_t MaxMessages = 100;
  std::vector<std::string> Messages; // shown by libjpeg (output_message)
  std::unique_ptr<TStreamSource> Source;
  std::unique_ptr<TStreamDest> Dest;
};

namespace {

TJpegErrorManager& ErrorOf(j_common_ptr Info) {
  return *static_cast<TJpegErrorManager*>(Info->err);
}

// The error exit: never returns into libjpeg. Every libjpeg call runs protected, so a
// jump target is always there; without one, ending is all that is left.
extern "C" void JpegErrorExit(j_common_ptr Info) {
  TJpegErrorManager& e = ErrorOf(Info);
  (*e.format_message)(Info, e.Message);
  if (!e.Jump)
    std::abort();
  std::longjmp(*e.Jump, 1);
}

// A message shown (a trace line at a raised trace level) is kept, never raised: it
// says nothing failed. Only the first few are kept; a trace shows one per marker.
extern "C" void JpegOutputMessage(j_common_ptr Info) noexcept {
  TJpegErrorManager& e = ErrorOf(Info);
  char text[JMSG_LENGTH_MAX];
  (*e.format_message)(Info, text);
  try {
    if (e.Messages.size() < TJpegErrorManager::MaxMessages)
      e.Messages.emplace_back(text);
  } catch (...) { // out of memory: the line is dropped
  }
}

// Warnings (level -1) are counted, never shown; a trace is shown when its level is
// not above the trace level, which stays 0.
extern "C" void JpegEmitMessage(j_common_ptr Info, int Level) {
  TJpegErrorManager& e = ErrorOf(Info);
  if (Level < 0) {
    ++e.num_warnings;
    ++e.Warnings;
  } else if (Level <= e.trace_level) {
    (*e.output_message)(Info);
  }
}

std::unique_ptr<TJpegErrorManager> NewErrorManager() {
  auto e = std::make_unique<TJpegErrorManager>();
  jpeg_std_error(e.get());
  e->error_exit = JpegErrorExit;
  e->output_message = JpegOutputMessage;
  e->emit_message = JpegEmitMessage;
  e->trace_level = 0;
  return e;
}

[[noreturn]] void Raise(TJpegErrorManager& E) {
  RethrowKept(E.StreamError);
  throw EJpegError(E.Message);
}

template <typename F> void Run(j_common_ptr Info, F&& Call) {
  TJpegErrorManager& e = ErrorOf(Info);
  if (!ProtectedCall(e.Jump, Call))
    Raise(e);
}

// Source manager over a stream, as libjpeg's stdio source does over a file.
extern "C" void SourceInit(j_decompress_ptr Info) {
  static_cast<TStreamSource*>(Info->src)->StartOfFile = true;
}

extern "C" boolean SourceFill(j_decompress_ptr Info) {
  auto* src = static_cast<TStreamSource*>(Info->src);
  std::size_t n = 0;
  if (!KeepException(ErrorOf(reinterpret_cast<j_common_ptr>(Info)).StreamError,
                     [&] { n = src->Stream->Read(src->Buffer, BlockBytes); }))
    ERREXIT(Info, JERR_FILE_READ);
  if (n == 0) {
    if (src->StartOfFile)
      ERREXIT(Info, JERR_INPUT_EMPTY);
    WARNMS(Info, JWRN_JPEG_EOF);
    // End the data with an end-of-image marker, so what was read still decodes.
    src->Buffer[0] = 0xFF;
    src->Buffer[1] = JPEG_EOI;
    n = 2;
  }
  src->next_input_byte = src->Buffer;
  src->bytes_in_buffer = n;
  src->StartOfFile = false;
  return TRUE;
}

extern "C" void SourceSkip(j_decompress_ptr Info, long Count) {
  auto* src = static_cast<TStreamSource*>(Info->src);
  if (Count <= 0)
    return;
  while (static_cast<std::size_t>(Count) > src->bytes_in_buffer) {
    Count -= static_cast<long>(src->bytes_in_buffer);
    SourceFill(Info);
  }
  src->next_input_byte += Count;
  src->bytes_in_buffer -= static_cast<std::size_t>(Count);
}

extern "C" void SourceTerm(j_decompress_ptr) {}

// Destination manager over a stream: whole blocks, then the rest at the end.
void DestWrite(j_compress_ptr Info, std::size_t Count) {
  auto* dest = static_cast<TStreamDest*>(Info->dest);
  if (!KeepException(ErrorOf(reinterpret_cast<j_common_ptr>(Info)).StreamError,
                     [&] { dest->Stream->WriteBuffer(dest->Buffer, Count); }))
    ERREXIT(Info, JERR_FILE_WRITE);
}

extern "C" void DestInit(j_compress_ptr Info) {
  auto* dest = static_cast<TStreamDest*>(Info->dest);
  dest->next_output_byte = dest->Buffer;
  dest->free_in_buffer = BlockBytes;
}

extern "C" boolean DestEmpty(j_compress_ptr Info) {
  DestWrite(Info, BlockBytes);
  DestInit(Info);
  return TRUE;
}

extern "C" void DestTerm(j_compress_ptr Info) {
  auto* dest = static_cast<TStreamDest*>(Info->dest);
  const std::size_t used = BlockBytes - dest->free_in_buffer;
  if (used > 0)
    DestWrite(Info, used);
}

} // namespace

TJpegDecompressor::TJpegDecompressor() : FError(NewErrorManager()) {
  auto d = std::make_unique<jpeg_decompress_struct>();
  d->err = FError.get();
  if (!ProtectedCall(FError->Jump,
                     [&] { jpeg_CreateDecompress(d.get(), JPEG_LIB_VERSION, sizeof *d); })) {
    jpeg_destroy_decompress(d.get());
    Raise(*FError);
  }
  FCodec = std::move(d);
}

TJpegDecompressor::~TJpegDecompressor() {
  if (FCodec)
    jpeg_destroy_decompress(FCodec.get());
}

long TJpegDecompressor::Warnings() const {
  return FError->Warnings;
}

const std::vector<std::string>& TJpegDecompressor::Messages() const {
  return FError->Messages;
}

TJpegCompressor::TJpegCompressor() : FError(NewErrorManager()) {
  auto c = std::make_unique<jpeg_compress_struct>();
  c->err = FError.get();
  if (!ProtectedCall(FError->Jump,
                     [&] { jpeg_CreateCompress(c.get(), JPEG_LIB_VERSION, sizeof *c); })) {
    jpeg_destroy_compress(c.get());
    Raise(*FError);
  }
  FCodec = std::move(c);
}

TJpegCompressor::~TJpegCompressor() {
  if (FCodec)
    jpeg_destroy_compress(FCodec.get());
}

long TJpegCompressor::Warnings() const {
  return FError->Warnings;
}

const std::vector<std::string>& TJpegCompressor::Messages() const {
  return FError->Messages;
}

void JpegGetDecompressInfo(const jpeg_decompress_struct* D, TJpegInfo& Info) {
  Info.Width = D->output_width;
  Info.Height = D->output_height;
  Info.Components = D->output_components;
  Info.DensityUnit = D->density_unit;
  Info.XDensity = D->X_density;
  Info.YDensity = D->Y_density;
  Info.ColorSpace = D->jpeg_color_space;
}

void JpegSetOutColorSpace(jpeg_decompress_struct* D, int ColorSpace) {
  D->out_color_space = static_cast<J_COLOR_SPACE>(ColorSpace);
}

void JpegSetCompressParams(jpeg_compress_struct* C, uint32_t Width, uint32_t Height, int Components,
                           uint8_t DensityUnit, uint16_t XDensity, uint16_t YDensity,
                           int InColorSpace, int Quality, bool Progressive, bool Optimize) {
  C->image_width = Width;
  C->image_height = Height;
  C->input_components = Components;
  C->in_color_space = static_cast<J_COLOR_SPACE>(InColorSpace);
  const auto info = reinterpret_cast<j_common_ptr>(C);
  Run(info, [&] { jpeg_set_defaults(C); });
  C->density_unit = DensityUnit;
  C->X_density = XDensity;
  C->Y_density = YDensity;
  Run(info, [&] { jpeg_set_quality(C, Quality, TRUE); });
  if (Progressive)
    Run(info, [&] { jpeg_simple_progression(C); });
  C->optimize_coding = Optimize ? TRUE : FALSE;
}

void JpegStreamSource(jpeg_decompress_struct* D, TStream& Stream) {
  TJpegErrorManager& e = ErrorOf(reinterpret_cast<j_common_ptr>(D));
  e.Source = std::make_unique<TStreamSource>();
  TStreamSource& src = *e.Source;
  src.Stream = &Stream;
  src.init_source = SourceInit;
  src.fill_input_buffer = SourceFill;
  src.skip_input_data = SourceSkip;
  src.resync_to_restart = jpeg_resync_to_restart;
  src.term_source = SourceTerm;
  src.next_input_byte = nullptr;
  src.bytes_in_buffer = 0;
  D->src = &src;
}

void JpegStreamDest(jpeg_compress_struct* C, TStream& Stream) {
  TJpegErrorManager& e = ErrorOf(reinterpret_cast<j_common_ptr>(C));
  e.Dest = std::make_unique<TStreamDest>();
  TStreamDest& dest = *e.Dest;
  dest.Stream = &Stream;
  dest.init_destination = DestInit;
  dest.empty_output_buffer = DestEmpty;
  dest.term_destination = DestTerm;
  C->dest = &dest;
}

int JpegReadHeader(jpeg_decompress_struct* D, bool RequireImage) {
  int result = 0;
  Run(reinterpret_cast<j_common_ptr>(D),
      [&] { result = jpeg_read_header(D, RequireImage ? TRUE : FALSE); });
  return result;
}

void JpegStartDecompress(jpeg_decompress_struct* D) {
  Run(reinterpret_cast<j_common_ptr>(D), [&] { jpeg_start_decompress(D); });
}

uint32_t JpegReadScanlines(jpeg_decompress_struct* D, uint8_t** Rows, uint32_t Count) {
  JDIMENSION n = 0;
  Run(reinterpret_cast<j_common_ptr>(D), [&] { n = jpeg_read_scanlines(D, Rows, Count); });
  return n;
}

void JpegFinishDecompress(jpeg_decompress_struct* D) {
  Run(reinterpret_cast<j_common_ptr>(D), [&] { jpeg_finish_decompress(D); });
}

void JpegStartCompress(jpeg_compress_struct* C, bool WriteAllTables) {
  Run(reinterpret_cast<j_common_ptr>(C),
      [&] { jpeg_start_compress(C, WriteAllTables ? TRUE : FALSE); });
}

uint32_t JpegWriteScanlines(jpeg_compress_struct* C, uint8_t** Rows, uint32_t Count) {
  JDIMENSION n = 0;
  Run(reinterpret_cast<j_common_ptr>(C), [&] { n = jpeg_write_scanlines(C, Rows, Count); });
  return n;
}

void JpegFinishCompress(jpeg_compress_struct* C) {
  Run(reinterpret_cast<j_common_ptr>(C), [&] { jpeg_finish_compress(C); });
}

} // namespace gf
