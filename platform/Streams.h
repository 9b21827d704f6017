// Byte streams with the class library's semantics that the engine relies on:
// SetSize presets the size (and so the capacity) and keeps the position unless it
// lies past the new end; writing past the end extends the stream.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

namespace gf {

class EStreamError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

enum class TSeekOrigin { Beginning, Current, End };

class TStream {
public:
  virtual ~TStream() = default;
  TStream() = default;
  TStream(const TStream&) = delete;
  TStream& operator=(const TStream&) = delete;

  // Reads at most Count bytes; returns how many were read (0 at the end).
  virtual std::size_t Read(void* Buffer, std::size_t Count) = 0;
  // Writes Count bytes; returns how many were written.
  virtual std::size_t Write(const void* Buffer, std::size_t Count) = 0;
  virtual int64_t Seek(int64_t Offset, TSeekOrigin Origin) = 0;
  virtual int64_t GetSize() = 0;
  virtual void SetSize(int64_t NewSize) = 0;

  int64_t GetPosition() { return Seek(0, TSeekOrigin::Current); }
  void SetPosition(int64_t Pos) { Seek(Pos, TSeekOrigin::Beginning); }
  // Reads until Count bytes are in or the stream ends, over the short reads that Read
  // may give (as read(2) does); returns how many were read.
  std::size_t ReadFully(void* Buffer, std::size_t Count);
  // Raise EStreamError when fewer bytes than asked could be moved.
  void ReadBuffer(void* Buffer, std::size_t Count);
  void WriteBuffer(const void* Buffer, std::size_t Count);
  // Copies Count bytes (all from the start when Count is 0) from Source.
  int64_t CopyFrom(TStream& Source, int64_t Count);
};

// Buffers for memory streams, kept when a stream is done with one so that the next
// stream takes it up with its pages already in memory, instead of each stream
// allocating and faulting in fresh pages. It holds one idle buffer, the largest it was
// given, of at most MaxIdleBytes, and only while open; closing it frees it. Streams
// give their buffers back from any thread.
class TBufferPool {
public:
  static constexpr std::size_t MaxIdleBytes = std::size_t{32} << 20;

  struct TFree {
    void operator()(uint8_t* P) const { std::free(P); }
  };
  using TData = std::unique_ptr<uint8_t[], TFree>;
  struct TBuffer {
    TData Data;
    std::size_t Capacity = 0;
  };

  // The idle buffer, grown to Capacity bytes when it holds fewer, else a new one of
  // Capacity bytes. Its contents are whatever was left in it. Raises std::bad_alloc.
  // Pool may be null: a new buffer then.
  static TBuffer Take(TBufferPool* Pool, std::size_t Capacity);
  // Makes Buffer (which may be empty) hold Capacity bytes, keeping its contents up to
  // that. Raises std::bad_alloc, leaving Buffer as it was.
  static void Resize(TBuffer& Buffer, std::size_t Capacity);
  // Keeps Buffer as the idle one if the pool is open and it is the largest, else frees
  // it. Pool may be null.
  static void Give(TBufferPool* Pool, TBuffer Buffer);

  void Open();
  void Close();
  std::size_t IdleBytes() const;

private:
  mutable std::mutex FMutex;
  bool FOpen = false;
  TBuffer FIdle;
};

// Grows its capacity by doubling, and never fills what it allocates: bytes that are
// part of the size but were never written (after SetSize grew it, or a write past
// the end) read as zeros without being stored, until Memory exposes them. Its buffer
// comes from and goes back to Pool, when one is given.
class TMemoryStream : public TStream {
public:
  explicit TMemoryStream(std::shared_ptr<TBufferPool> Pool = nullptr) : FPool(std::move(Pool)) {}
  ~TMemoryStream() override;

  std::size_t Read(void* Buffer, std::size_t Count) override;
  std::size_t Write(const void* Buffer, std::size_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override { return static_cast<int64_t>(FSize); }
  void SetSize(int64_t NewSize) override;

  // The stream's bytes, GetSize of them; valid until the next write, SetSize or Clear.
  const uint8_t* Memory() const;
  uint8_t* Memory();
  std::size_t Capacity() const { return FBuffer.Capacity; }
  void Clear();
  void LoadFromFile(const std::string& FileName);

private:
  // Makes the buffer hold at least Capacity bytes, keeping the stored ones.
  void Reserve(std::size_t Capacity) const;
  // Stores the zeros that the size holds beyond the stored bytes.
  void StoreZeros() const;

  std::shared_ptr<TBufferPool> FPool;
  // Mutable: the const Memory stores the zeros it exposes.
  mutable TBufferPool::TBuffer FBuffer;
  mutable std::size_t FStored = 0; // bytes 0 .. FStored - 1 are in the buffer; FStored <= FSize
  std::size_t FSize = 0;
  std::size_t FPosition = 0; // may lie past FSize after a seek; a write then extends
};

enum class TFileMode {
  OpenRead,      // existing file, read only
  OpenWrite,     // existing file, write only, kept as it is
  OpenReadWrite, // existing file, read and write, kept as it is
  // An existing regular file or block device, read only. The type is checked before
  // the open, and the open never waits: a FIFO or a folder is refused.
  OpenReadMedium,
  CreateExclusive, // new file; fails when the name exists (never overwrites)
  CreateReplace    // create or truncate
};

class EFileStreamError : public EStreamError {
public:
  EFileStreamError(const std::string& Msg, int Errno) : EStreamError(Msg), FErrno(Errno) {}
  int Errno() const { return FErrno; }

private:
  int FErrno;
};

class TFileStream : public TStream {
public:
  TFileStream(const std::string& FileName, TFileMode Mode);
  ~TFileStream() override;

  std::size_t Read(void* Buffer, std::size_t Count) override;
  std::size_t Write(const void* Buffer, std::size_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t GetSize() override;
  void SetSize(int64_t NewSize) override;

  // Flushes written data to the device; raises on failure.
  void Flush();
  // Closes the file now, raising when the system reports that written data was lost
  // (network file systems may tell of a full disk only here). Nothing but the
  // destructor may follow.
  void Close();
  const std::string& FileName() const { return FFileName; }
  int Handle() const { return FFd; }

private:
  [[noreturn]] void Fail(const std::string& What) const;
  void OpenMedium();
  std::string FFileName;
  int FFd = -1;
};

// Writes all Count bytes of Buffer to the descriptor Fd at its position, going on over
// short writes and interruptions: 0, or the errno value of the write that failed.
int WriteAll(int Fd, const void* Buffer, std::size_t Count);

// Renames From to To unless an entry named To exists (a dangling link counts), in one
// step where the file system allows it. Returns 0, or the errno value: EEXIST when To
// exists.
int RenameNoReplace(const std::string& From, const std::string& To);
// The same on file systems without renameat2's RENAME_NOREPLACE (network and FUSE file
// systems): a hard link to To, or where there are none, To first claimed by creating
// it exclusively and then replaced. RenameNoReplace falls back to it.
int RenameNoReplaceFallback(const std::string& From, const std::string& To);

} // namespace gf
