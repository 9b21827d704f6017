// Module QvCRtl.
// C run-time calls for the image library's C-style code: low-level file access over
// small integer handles (each one a file stream the glue owns), a tokenizer whose
// position belongs to the caller, and a case fold that touches only A to Z.
//
// The handles are indices into a table, never object addresses: a stale or forged
// handle is refused (-1), not followed. Opening raises the file stream's error, as a
// constructor would; read, write and seek report failures through their result, as
// their C counterparts do, so that a codec can turn them into its own error codes.
#pragma once

#include <cstdint>

namespace gf::crt {

// Open flags, with the values the codecs pass.
constexpr int CRT_O_WRONLY = 0x0001;
constexpr int CRT_O_RDWR = 0x0002;
constexpr int CRT_O_CREAT = 0x0100;
constexpr int CRT_O_TRUNC = 0x0200;
constexpr int CRT_O_EXCL = 0x0400; // exclusive sharing: no other opener while it is open
constexpr int CRT_O_APPEND = 0x0800;
constexpr int CRT_O_BINARY = 0x8000; // no text mode here; accepted and ignored

// How many files may be open through the glue at once.
constexpr int MaxOpenFiles = 256;

// Opens Path and returns its handle (1 or more). With both CRT_O_CREAT and CRT_O_TRUNC
// the file is created, or emptied, for reading and writing; otherwise it must exist and
// is opened for reading, for writing (CRT_O_WRONLY) or both (CRT_O_RDWR). CRT_O_APPEND
// leaves the position at the end. Mode (the permissions a create passes) is not used.
// Raises EFileStreamError when the file cannot be opened, is held exclusively by
// another glue handle, or too many are open; never returns -1.
int open(const char* Path, int Flags, int Mode = 0);
// Closes the handle's stream: 0, or -1 for a handle that is not open.
int close(int Handle);
// Whence 0 from the start, 2 from the end, anything else from the current position.
// The new position, or -1 (position unchanged) for a bad handle or a position before
// the start.
int64_t lseek(int Handle, int64_t Offset, int Whence);
// Bytes read (0 at the end), or -1 for a bad handle, a count above INT32_MAX or an
// I/O error.
int read(int Handle, void* Buffer, unsigned Count);
// Bytes written, or -1 as for read.
int write(int Handle, const void* Buffer, unsigned Count);

// The C tokenizer with its position kept in *Position instead of a process-wide
// variable: a non-null Text restarts it. Leading delimiters are skipped; null when
// only delimiters remain; otherwise the token is returned, the delimiter ending it is
// overwritten with a zero byte and the position moves past it.
char* strtok(char* Text, const char* Delimiters, char** Position);

// The low byte of C with A to Z folded to a to z; every other value (accented letters,
// bytes above 127) unchanged. Not affected by the locale.
int tolower(int C);

} // namespace gf::crt
