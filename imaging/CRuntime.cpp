#include "CRuntime.h"

#include "Streams.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <sys/file.h>
#include <vector>

namespace gf::crt {

namespace {

// Handle H is Slots[H - 1]; a closed slot is empty and is reused by the next open.
struct THandleTable {
  std::mutex Lock;
  std::vector<std::unique_ptr<TFileStream>> Slots;
};

THandleTable& Table() {
  static THandleTable table;
  return table;
}

// The stream behind Handle, or null. Callers hold the table's lock.
TFileStream* Lookup(THandleTable& T, int Handle) {
  if (Handle < 1 || static_cast<std::size_t>(Handle) > T.Slots.size())
    return nullptr;
  return T.Slots[static_cast<std::size_t>(Handle) - 1].get();
}

// Op on the stream behind Handle, under the table's lock; -1 when the handle is not
// open or the stream fails.
template <typename TOp> int64_t OnStream(int Handle, TOp&& Op) {
  THandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.Lock);
  TFileStream* f = Lookup(t, Handle);
  if (!f)
    return -1;
  try {
    return Op(*f);
  } catch (const EStreamError&) {
    return -1;
  }
}

// A read or write whose count the int result can hold, with a buffer unless it is 0.
bool TransferFits(const void* Buffer, unsigned Count) {
  return Count <= static_cast<unsigned>(INT_MAX) && (Buffer || !Count);
}

[[noreturn]] void Refuse(const std::string& Path, const char* Why, int Errno) {
  throw EFileStreamError("Cannot open file \"" + Path + "\". " + Why, Errno);
}

// Sharing between glue handles: an exclusive open holds the file alone, any other
// open shares it. Advisory, so only openers that lock the same way are kept out.
void LockFile(TFileStream& F, bool Exclusive) {
  int r;
  do
    r = ::flock(F.Handle(), (Exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB);
  while (r != 0 && errno == EINTR);
  if (r != 0 && errno == EWOULDBLOCK)
    Refuse(F.FileName(), "The file is in use by another opener", EWOULDBLOCK);
}

// Create mode: opened for reading and writing, created when missing. A file that
// exists is emptied only once the lock is held, so a file another handle holds
// exclusively is never truncated under it.
std::unique_ptr<TFileStream> OpenCreate(const std::string& Path, bool Exclusive) {
  std::unique_ptr<TFileStream> f;
  for (int attempt = 0; !f; ++attempt) {
    try {
      f = std::make_unique<TFileStream>(Path, TFileMode::OpenReadWrite);
    } catch (const EFileStreamError& e) {
      if (e.Errno() != ENOENT || attempt > 0)
        throw;
      try {
        f = std::make_unique<TFileStream>(Path, TFileMode::CreateExclusive);
      } catch (const EFileStreamError& e2) {
        if (e2.Errno() != EEXIST) // someone created it meanwhile: open it instead
          throw;
      }
    }
  }
  LockFile(*f, Exclusive);
  f->SetSize(0);
  return f;
}

} // namespace

int open(const char* Path, int Flags, int /*Mode*/) {
  if (!Path)
    throw EFileStreamError("Cannot open file: no name given", EFAULT);
  const std::string path(Path);
  const bool exclusive = (Flags & CRT_O_EXCL) != 0;
  std::unique_ptr<TFileStream> f;
  if ((Flags & CRT_O_CREAT) && (Flags & CRT_O_TRUNC)) {
    f = OpenCreate(path, exclusive);
  } else {
    TFileMode mode = (Flags & CRT_O_RDWR)     ? TFileMode::OpenReadWrite
                     : (Flags & CRT_O_WRONLY) ? TFileMode::OpenWrite
                                              : TFileMode::OpenRead;
    f = std::make_unique<TFileStream>(path, mode);
    LockFile(*f, exclusive);
  }
  if (Flags & CRT_O_APPEND)
    f->Seek(0, TSeekOrigin::End);

  THandleTable& t = Table();
  std::lock_guard<std::mutex> guard(t.Lock);
  for (std::size_t i = 0; i < t.Slots.size(); ++i)
    if (!t.Slots[i]) {
      t.Slots[i] = std::move(f);
      return static_cast<int>(i) + 1;
    }
  if (t.Slots.size() >= static_cast<std::size_t>(MaxOpenFiles))
    Refuse(path, "Too many open files", EMFILE);
  t.Slots.push_back(std::move(f));
  return static_cast<int>(t.Slots.size());
}

int close(int Handle) {
  std::unique_ptr<TFileStream> f;
  {
    THandleTable& t = Table();
    std::lock_guard<std::mutex> guard(t.Lock);
    if (!Lookup(t, Handle))
      return -1;
    f = std::move(t.Slots[static_cast<std::size_t>(Handle) - 1]);
  }
  f.reset(); // the stream's destructor closes the file and never raises
  return 0;
}

int64_t lseek(int Handle, int64_t Offset, int Whence) {
  TSeekOrigin origin = Whence == 0   ? TSeekOrigin::Beginning
                       : Whence == 2 ? TSeekOrigin::End
                                     : TSeekOrigin::Current;
  return OnStream(Handle, [&](TFileStream& F) { return F.Seek(Offset, origin); });
}

int read(int Handle, void* Buffer, unsigned Count) {
  if (!TransferFits(Buffer, Count))
    return -1;
  return static_cast<int>(OnStream(
      Handle, [&](TFileStream& F) { return static_cast<int64_t>(F.Read(Buffer, Count)); }));
}

int write(int Handle, const void* Buffer, unsigned Count) {
  if (!TransferFits(Buffer, Count))
    return -1;
  return static_cast<int>(OnStream(
      Handle, [&](TFileStream& F) { return static_cast<int64_t>(F.Write(Buffer, Count)); }));
}

char* strtok(char* Text, const char* Delimiters, char** Position) {
  char* p = Text ? Text : *Position;
  if (!p)
    return nullptr;
  // The delimiters are compared byte by byte: bytes of multi-byte characters are
  // all above 127, so they never equal an ASCII delimiter.
  while (*p && std::strchr(Delimiters, *p))
    ++p;
  if (!*p) {
    *Position = p;
    return nullptr;
  }
  char* token = p;
  while (*p && !std::strchr(Delimiters, *p))
    ++p;
  if (*p)
    *p++ = '\0';
  *Position = p;
  return token;
}

int tolower(int C) {
  int c = C & 0xFF;
  return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c;
}

} // namespace gf::crt
