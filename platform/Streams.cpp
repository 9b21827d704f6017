#include "Streams.h"

#include "Errors.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace gf {

std::size_t TStream::ReadFully(void* Buffer, std::size_t Count) {
  auto* out = static_cast<uint8_t*>(Buffer);
  std::size_t done = 0;
  while (done < Count) {
    const std::size_t n = Read(out + done, Count - done);
    if (n == 0)
      break;
    done += n;
  }
  return done;
}

void TStream::ReadBuffer(void* Buffer, std::size_t Count) {
  if (ReadFully(Buffer, Count) != Count)
    throw EStreamError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, std::size_t Count) {
  if (Count != 0 && Write(Buffer, Count) != Count)
    throw EStreamError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& Source, int64_t Count) {
  if (Count == 0) {
    Source.SetPosition(0);
    Count = Source.GetSize();
  }
  const int64_t total = Count;
  std::vector<uint8_t> buf(static_cast<std::size_t>(std::min<int64_t>(Count, 65536)));
  while (Count > 0) {
    std::size_t n = static_cast<std::size_t>(std::min<int64_t>(Count, 65536));
    Source.ReadBuffer(buf.data(), n);
    WriteBuffer(buf.data(), n);
    Count -= static_cast<int64_t>(n);
  }
  return total;
}

void TBufferPool::Resize(TBuffer& Buffer, std::size_t Capacity) {
  // realloc keeps the pages it has: a large buffer grows without its bytes being
  // copied or its pages faulted in anew.
  auto* p = static_cast<uint8_t*>(std::realloc(Buffer.Data.get(), Capacity > 0 ? Capacity : 1));
  if (!p)
    throw std::bad_alloc();
  (void)Buffer.Data.release();
  Buffer.Data.reset(p);
  Buffer.Capacity = Capacity;
}

TBufferPool::TBuffer TBufferPool::Take(TBufferPool* Pool, std::size_t Capacity) {
  TBuffer b;
  if (Pool) {
    std::lock_guard lock(Pool->FMutex);
    b = std::exchange(Pool->FIdle, {});
  }
  if (b.Capacity < Capacity)
    Resize(b, Capacity);
  return b;
}

void TBufferPool::Give(TBufferPool* Pool, TBuffer Buffer) {
  if (!Pool || !Buffer.Data || Buffer.Capacity > MaxIdleBytes)
    return;
  std::lock_guard lock(Pool->FMutex);
  if (Pool->FOpen && Buffer.Capacity > Pool->FIdle.Capacity)
    std::swap(Pool->FIdle, Buffer);
} // the one not kept is freed here

void TBufferPool::Open() {
  std::lock_guard lock(FMutex);
  FOpen = true;
}

void TBufferPool::Close() {
  TBuffer idle;
  std::lock_guard lock(FMutex);
  FOpen = false;
  std::swap(idle, FIdle);
} // freed here, after the lock is given up

std::size_t TBufferPool::IdleBytes() const {
  std::lock_guard lock(FMutex);
  return FIdle.Capacity;
}

TMemoryStream::~TMemoryStream() {
  TBufferPool::Give(FPool.get(), std::move(FBuffer));
}

void TMemoryStream::Reserve(std::size_t Capacity) const {
  if (Capacity <= FBuffer.Capacity)
    return;
  if (FBuffer.Data)
    TBufferPool::Resize(FBuffer, Capacity);
  else
    FBuffer = TBufferPool::Take(FPool.get(), Capacity);
}

void TMemoryStream::StoreZeros() const {
  if (FStored == FSize)
    return;
  Reserve(FSize);
  std::memset(FBuffer.Data.get() + FStored, 0, FSize - FStored);
  FStored = FSize;
}

const uint8_t* TMemoryStream::Memory() const {
  StoreZeros();
  return FBuffer.Data.get();
}

uint8_t* TMemoryStream::Memory() {
  StoreZeros();
  return FBuffer.Data.get();
}

std::size_t TMemoryStream::Read(void* Buffer, std::size_t Count) {
  if (FPosition >= FSize)
    return 0;
  const std::size_t n = std::min(Count, FSize - FPosition);
  const std::size_t stored = FPosition < FStored ? std::min(n, FStored - FPosition) : 0;
  if (stored > 0)
    std::memcpy(Buffer, FBuffer.Data.get() + FPosition, stored);
  std::memset(static_cast<uint8_t*>(Buffer) + stored, 0, n - stored);
  FPosition += n;
  return n;
}

std::size_t TMemoryStream::Write(const void* Buffer, std::size_t Count) {
  if (Count == 0)
    return 0;
  if (Count > SIZE_MAX - FPosition)
    throw EStreamError("Out of memory while expanding memory stream");
  const std::size_t end = FPosition + Count;
  if (end > FBuffer.Capacity) {
    // A size set ahead is the capacity asked for; beyond it, doubling keeps the bytes
    // moved in all to less than the final size.
    const std::size_t doubled = FBuffer.Capacity > SIZE_MAX / 2 ? SIZE_MAX : FBuffer.Capacity * 2;
    Reserve(std::max({end, FSize, doubled}));
  }
  if (FPosition > FStored) // bytes between the stored ones and a seeked position read as 0
    std::memset(FBuffer.Data.get() + FStored, 0, FPosition - FStored);
  std::memcpy(FBuffer.Data.get() + FPosition, Buffer, Count);
  FStored = std::max(FStored, end);
  FSize = std::max(FSize, end);
  FPosition = end;
  return Count;
}

int64_t TMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = Origin == TSeekOrigin::Beginning ? 0
                 : Origin == TSeekOrigin::Current ? static_cast<int64_t>(FPosition)
                                                  : static_cast<int64_t>(FSize);
  int64_t pos = base + Offset;
  if (pos < 0)
    pos = 0;
  FPosition = static_cast<std::size_t>(pos);
  return pos;
}

void TMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0)
    NewSize = 0;
  // Growing reads as zeros, also where an earlier, larger size left bytes behind in
  // the buffer: they are no longer counted as stored.
  FSize = static_cast<std::size_t>(NewSize);
  FStored = std::min(FStored, FSize);
  if (FPosition > FSize)
    FPosition = FSize;
}

void TMemoryStream::Clear() {
  TBufferPool::Give(FPool.get(), std::move(FBuffer));
  FBuffer = {};
  FStored = 0;
  FSize = 0;
  FPosition = 0;
}

void TMemoryStream::LoadFromFile(const std::string& FileName) {
  TFileStream f(FileName, TFileMode::OpenRead);
  Clear();
  const auto n = static_cast<std::size_t>(f.GetSize());
  Reserve(n);
  f.ReadBuffer(FBuffer.Data.get(), n);
  FStored = FSize = n;
}

namespace {

bool IsMediumType(mode_t Mode) {
  return S_ISREG(Mode) || S_ISBLK(Mode);
}

[[noreturn]] void RefuseType(const std::string& FileName, mode_t Mode) {
  int e = S_ISDIR(Mode) ? EISDIR : ENODEV;
  throw EFileStreamError("Cannot open file \"" + FileName + "\". " +
                             (S_ISDIR(Mode) ? std::string(std::strerror(e))
                                            : std::string("Not a file or block device")),
                         e);
}

} // namespace

void TFileStream::OpenMedium() {
  struct stat st {};
  if (::stat(FFileName.c_str(), &st) != 0)
    Fail("Cannot open file");
  if (!IsMediumType(st.st_mode))
    RefuseType(FFileName, st.st_mode);
  // Without O_NONBLOCK a FIFO put in the file's place since the check would hang here.
  do
    FFd = ::open(FFileName.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  while (FFd < 0 && errno == EINTR);
  if (FFd < 0)
    Fail("Cannot open file");
  if (::fstat(FFd, &st) != 0) {
    int e = errno;
    ::close(FFd);
    FFd = -1;
    errno = e;
    Fail("Cannot open file");
  }
  if (!IsMediumType(st.st_mode)) {
    ::close(FFd);
    FFd = -1;
    RefuseType(FFileName, st.st_mode);
  }
  int flags = ::fcntl(FFd, F_GETFL);
  if (flags >= 0)
    ::fcntl(FFd, F_SETFL, flags & ~O_NONBLOCK);
}

TFileStream::TFileStream(const std::string& FileName, TFileMode Mode) : FFileName(FileName) {
  int flags = O_CLOEXEC;
  switch (Mode) {
  case TFileMode::OpenReadMedium:
    OpenMedium();
    return;
  case TFileMode::OpenRead:
    flags |= O_RDONLY;
    break;
  case TFileMode::OpenWrite:
    flags |= O_WRONLY;
    break;
  case TFileMode::OpenReadWrite:
    flags |= O_RDWR;
    break;
  case TFileMode::CreateExclusive:
    flags |= O_RDWR | O_CREAT | O_EXCL;
    break;
  case TFileMode::CreateReplace:
    flags |= O_RDWR | O_CREAT | O_TRUNC;
    break;
  }
  do
    FFd = ::open(FileName.c_str(), flags, 0644);
  while (FFd < 0 && errno == EINTR);
  if (FFd < 0)
    Fail(Mode == TFileMode::CreateExclusive || Mode == TFileMode::CreateReplace
             ? "Cannot create file"
             : "Cannot open file");
}

TFileStream::~TFileStream() {
  if (FFd >= 0)
    ::close(FFd);
}

void TFileStream::Fail(const std::string& What) const {
  int e = errno;
  throw EFileStreamError(What + " \"" + FFileName + "\". " + std::strerror(e), e);
}

std::size_t TFileStream::Read(void* Buffer, std::size_t Count) {
  std::size_t done = 0;
  while (done < Count) {
    ssize_t n = ::read(FFd, static_cast<char*>(Buffer) + done, Count - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      Fail("Cannot read file");
    if (n == 0)
      break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

int WriteAll(int Fd, const void* Buffer, std::size_t Count) {
  for (std::size_t done = 0; done < Count;) {
    const ssize_t n = ::write(Fd, static_cast<const char*>(Buffer) + done, Count - done);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0)
      return errno;
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

std::size_t TFileStream::Write(const void* Buffer, std::size_t Count) {
  if (const int e = WriteAll(FFd, Buffer, Count)) {
    errno = e;
    Fail("Cannot write file");
  }
  return Count;
}

int64_t TFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int whence = Origin == TSeekOrigin::Beginning ? SEEK_SET
               : Origin == TSeekOrigin::Current ? SEEK_CUR
                                                : SEEK_END;
  off_t r = ::lseek(FFd, static_cast<off_t>(Offset), whence);
  if (r < 0)
    Fail("Cannot seek in file");
  return r;
}

int64_t TFileStream::GetSize() {
  struct stat st {};
  if (::fstat(FFd, &st) != 0)
    Fail("Cannot read size of file");
  return st.st_size;
}

void TFileStream::SetSize(int64_t NewSize) {
  if (::ftruncate(FFd, static_cast<off_t>(NewSize)) != 0)
    Fail("Cannot set size of file");
}

void TFileStream::Close() {
  int fd = FFd;
  FFd = -1;
  // Linux releases the descriptor even when close fails, so it is never retried.
  if (fd >= 0 && ::close(fd) != 0 && errno != EINTR)
    Fail("Cannot write file");
}

void TFileStream::Flush() {
  if (::fsync(FFd) != 0 && errno != EINVAL)
    Fail("Cannot flush file");
}

int RenameNoReplace(const std::string& From, const std::string& To) {
  if (::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0)
    return 0;
  if (errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
    return errno;
  return RenameNoReplaceFallback(From, To);
}

int RenameNoReplaceFallback(const std::string& From, const std::string& To) {
  struct stat st {};
  if (::lstat(From.c_str(), &st) != 0)
    return errno;
  bool folder = S_ISDIR(st.st_mode);
  if (!folder) {
    if (::link(From.c_str(), To.c_str()) == 0) {
      ::unlink(From.c_str());
      return 0;
    }
    if (errno != EPERM && errno != EOPNOTSUPP && errno != EMLINK)
      return errno; // EEXIST among them
  }
  // No hard links here: take the name with an exclusive create, which fails when it
  // exists, then put From in the place of what was just made.
  int made = folder ? ::mkdir(To.c_str(), 0700)
                    : ::open(To.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (made < 0)
    return errno;
  if (!folder)
    ::close(made);
  if (::rename(From.c_str(), To.c_str()) != 0) {
    int e = errno;
    folder ? ::rmdir(To.c_str()) : ::unlink(To.c_str());
    return e;
  }
  return 0;
}

} // namespace gf
