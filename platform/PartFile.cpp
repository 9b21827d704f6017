#include "PartFile.h"

#include "UniqueFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <sys/xattr.h>
#include <unistd.h>

namespace gf {

namespace {

constexpr std::string_view PartHead = ".glimmerfold-", PartTail = ".part";

// Folder as the start of a path in it.
std::string FolderPrefix(const std::string& Folder) {
  return Folder.empty() || Folder.back() == '/' ? Folder : Folder + "/";
}

// Whether Text is a decimal number of 1 to MaxDigits digits.
bool Digits(std::string_view Text, std::size_t MaxDigits) {
  return !Text.empty() && Text.size() <= MaxDigits &&
         Text.find_first_not_of("0123456789") == std::string_view::npos;
}

// A list of extended attribute names or a value, asked for by size first; the size
// may change between the two calls. False with errno set on failure.
template <class TCall> bool ReadSized(TCall Call, std::string& Out) {
  for (int tries = 0; tries < 8; ++tries) {
    const ssize_t size = Call(nullptr, 0);
    if (size < 0)
      return false;
    Out.resize(static_cast<std::size_t>(size));
    const ssize_t got = size == 0 ? 0 : Call(Out.data(), Out.size());
    if (got >= 0) {
      Out.resize(static_cast<std::size_t>(got));
      return true;
    }
    if (errno != ERANGE)
      return false;
  }
  errno = ERANGE;
  return false;
}

std::vector<std::string> SplitNames(const std::string& List) {
  std::vector<std::string> names;
  for (std::size_t at = 0; at < List.size();) {
    const std::size_t end = List.find('\0', at);
    names.push_back(List.substr(at, end - at));
    at = end == std::string::npos ? List.size() : end + 1;
  }
  return names;
}

// Gives the open file Fd exactly the extended attributes that the file Name has. A
// file system without them has nothing to copy.
bool CopyAttributes(const std::string& Name, int Fd) {
  std::string list;
  if (!ReadSized([&](char* B, std::size_t N) { return ::listxattr(Name.c_str(), B, N); }, list))
    return errno == ENOTSUP;
  const std::vector<std::string> wanted = SplitNames(list);
  std::string own;
  if (!ReadSized([&](char* B, std::size_t N) { return ::flistxattr(Fd, B, N); }, own))
    return false;
  // The new file may have been given some by the folder (a default access list).
  for (const std::string& n : SplitNames(own))
    if (std::find(wanted.begin(), wanted.end(), n) == wanted.end() &&
        ::fremovexattr(Fd, n.c_str()) != 0 && errno != ENODATA)
      return false;
  for (const std::string& n : wanted) {
    std::string value;
    if (!ReadSized(
            [&](char* B, std::size_t N) { return ::getxattr(Name.c_str(), n.c_str(), B, N); },
            value)) {
      if (errno == ENODATA)
        continue; // removed meanwhile
      return false;
    }
    if (::fsetxattr(Fd, n.c_str(), value.data(), value.size(), 0) != 0)
      return false;
  }
  return true;
}

void SyncFolderOf(const std::string& File) {
  const std::filesystem::path parent = std::filesystem::path(File).parent_path();
  const int fd = ::open(parent.empty() ? "." : parent.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    ::fsync(fd);
    ::close(fd);
  }
}

} // namespace

bool IsPartFileName(const std::string& Name, int64_t* Pid) {
  std::string_view n(Name);
  if (!n.starts_with(PartHead) || !n.ends_with(PartTail))
    return false;
  n = n.substr(PartHead.size(), n.size() - PartHead.size() - PartTail.size());
  std::size_t dash = n.find('-');
  if (dash == std::string_view::npos || !Digits(n.substr(0, dash), 18) ||
      !Digits(n.substr(dash + 1), 18))
    return false;
  if (Pid)
    *Pid = std::stoll(std::string(n.substr(0, dash)));
  return true;
}

// The name stays short whatever the file's own name is, so that it fits wherever that
// one does. A leftover of a run that was killed keeps its name; the next free one is
// taken.
TPartFile::TPartFile(const std::string& Folder, TWriteOut WriteOut)
    : FWriteOut(WriteOut), FStream(CreateUniqueFile(FolderPrefix(Folder) + std::string(PartHead) +
                                                        std::to_string(::getpid()) + "-",
                                                    std::string(PartTail), 1001, FName)) {}

TPartFile::~TPartFile() {
  FStream.reset();
  if (!FGone)
    ::unlink(FName.c_str());
}

bool TPartFile::TakeOver(const std::string& OldName, const struct stat& Old) {
  struct stat now {};
  if (::fstat(Handle(), &now) != 0)
    return false;
  if ((now.st_uid != Old.st_uid || now.st_gid != Old.st_gid) &&
      ::fchown(Handle(), Old.st_uid, Old.st_gid) != 0)
    return false;
  // After the owner, which clears the set-id bits, and after the access list, which
  // the group permissions follow.
  return CopyAttributes(OldName, Handle()) && ::fchmod(Handle(), Old.st_mode & 07777) == 0;
}

void TPartFile::Finish() {
  if (FWriteOut == TWriteOut::Durable)
    FStream->Flush();
  else // its failure is the caller's flush to report
    ::sync_file_range(Handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
  FStream->Close();
}

int TPartFile::Placed(int Errno, const std::string& Target) {
  if (Errno != 0)
    return Errno;
  FGone = true;
  // The new name is in place; a folder that cannot be written through now is
  // written through with the file system later, and the file is saved either way.
  if (FWriteOut == TWriteOut::Durable)
    SyncFolderOf(Target);
  return 0;
}

int TPartFile::Replace(const std::string& Target) {
  return Placed(::rename(FName.c_str(), Target.c_str()) == 0 ? 0 : errno, Target);
}

int TPartFile::PlaceNew(const std::string& Target) {
  return Placed(RenameNoReplace(FName, Target), Target);
}

int TPartFile::Discard() {
  FStream.reset();
  if (FGone)
    return 0;
  FGone = true;
  return ::unlink(FName.c_str()) == 0 ? 0 : errno;
}

std::vector<TLeftoverPartFile> RemoveLeftoverPartFiles(const std::string& Folder) {
  std::vector<TLeftoverPartFile> tried;
  const std::string prefix = FolderPrefix(Folder);
  std::error_code ec;
  for (std::filesystem::directory_iterator it(prefix.empty() ? "." : prefix, ec), end;
       !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    int64_t pid = 0;
    if (!IsPartFileName(name, &pid))
      continue;
    // A pid beyond what the system gives out was never a process of this machine.
    if (pid <= 0 || pid > INT32_MAX || !(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
      continue;
    const std::string file = prefix + name;
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      continue;
    tried.push_back({name, ::unlink(file.c_str()) == 0 ? 0 : errno});
  }
  return tried;
}

} // namespace gf
