#include "ScanResults.h"

#include "Controller.h"
#include "Debug.h"
#include "Format.h"
#include "Language.h"
#include "Streams.h"
#include "UniqueFile.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace gf {

namespace {

// The numbers stay within what the summary and the counters show.
constexpr int64_t LastNumber = INT32_MAX;

std::string Reason(const char* What, const std::string& Name, int Errno) {
  return std::string(What) + " \"" + Name + "\". " + std::strerror(Errno);
}

constexpr std::string_view PartHead = ".glimmerfold-", PartTail = ".part";

// A new hidden file in Folder for bytes that are not complete yet. A leftover of a run
// that was killed keeps its name; the next free one is taken.
std::unique_ptr<TFileStream> CreatePartFile(const std::string& Folder, std::string& Name) {
  return CreateUniqueFile(Folder + std::string(PartHead) + std::to_string(::getpid()) + "-",
                          std::string(PartTail), 1001, Name);
}

// Whether Text is a decimal number of 1 to MaxDigits digits.
bool Digits(std::string_view Text, std::size_t MaxDigits) {
  return !Text.empty() && Text.size() <= MaxDigits &&
         Text.find_first_not_of("0123456789") == std::string_view::npos;
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

std::vector<std::string> RemoveStalePartFiles(const std::string& Folder) {
  std::vector<std::string> removed;
  if (Folder.empty())
    return removed;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(Folder, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    int64_t pid = 0;
    if (!IsPartFileName(name, &pid))
      continue;
    // A process that still runs (or that the system will not say about) may be writing
    // it; a pid beyond what the system gives out was never a process of this machine.
    if (pid <= 0 || pid > INT32_MAX || !(::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH))
      continue;
    std::string file = Folder + name;
    struct stat st {};
    if (::lstat(file.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
      continue; // only a plain file is ours to remove, never what a link points to
    if (::unlink(file.c_str()) != 0) {
      DebugLog("MAIN: Cannot remove %s, left by a run that ended: %s", file, std::strerror(errno));
      continue;
    }
    DebugLog("MAIN: Removed %s, left by a run that ended before it was saved", file);
    removed.push_back(name);
  }
  return removed;
}

std::vector<std::string> ExistingFiles(const std::string& DestPath, const std::string& Prefix,
                                       std::string& Error) {
  Error.clear();
  std::vector<std::string> names;
  if (DestPath.empty())
    return names; // a relative search would look into whatever folder the program started in
  std::error_code ec;
  for (std::filesystem::directory_iterator it(DestPath, ec), end; !ec && it != end;
       it.increment(ec)) {
    std::string name = it->path().filename().string();
    std::error_code fec;
    if (name.compare(0, Prefix.size(), Prefix) == 0 && !IsPartFileName(name) &&
        it->is_regular_file(fec))
      names.push_back(name);
  }
  if (ec)
    Error = ec.message();
  std::sort(names.begin(), names.end());
  return names;
}

TSaveResult SaveFoundFile(const std::string& DestPath, const std::string& Prefix, int64_t First,
                          const std::string& Key, TMemoryStream& Stream) {
  TSaveResult r;
  auto nameOf = [&](int64_t n) { return DestPath + Prefix + std::to_string(n) + "." + Key; };
  int64_t n = First < 0 ? 0 : First;
  // A "/" would lead out of the folder, and a NUL would cut the name short, so that
  // every number would seem taken.
  const std::string unsafe("/\0", 2);
  if (Prefix.find_first_of(unsafe) != std::string::npos ||
      Key.find_first_of(unsafe) != std::string::npos || DestPath.find('\0') != std::string::npos) {
    r.FileName = nameOf(n);
    r.Error = Reason("Cannot create file", r.FileName, EINVAL);
    return r;
  }
  // The name the file will most likely get, for the error texts.
  for (struct stat st{}; n <= LastNumber && ::lstat(nameOf(n).c_str(), &st) == 0;)
    ++n;
  if (n > LastNumber) {
    r.Error = "No free file name in " + DestPath;
    return r;
  }
  r.FileName = nameOf(n);
  std::string part;
  std::unique_ptr<TFileStream> file;
  try {
    file = CreatePartFile(DestPath, part);
  } catch (const EFileStreamError& e) {
    r.Error = Reason("Cannot create file", r.FileName, e.Errno());
    return r;
  }
  try {
    Stream.SetPosition(0);
    file->WriteBuffer(Stream.Memory(), static_cast<std::size_t>(Stream.GetSize()));
    // Starts the write-out now, while the scan goes on, so that the flush before the
    // summary finds little left to write. Its failure is the flush's to report.
    ::sync_file_range(file->Handle(), 0, 0, SYNC_FILE_RANGE_WRITE);
    file->Close();
  } catch (const EFileStreamError& e) {
    file.reset();
    ::unlink(part.c_str());
    r.Error = Reason("Cannot write file", r.FileName, e.Errno());
    return r;
  }
  for (;; ++n) {
    if (n > LastNumber) {
      ::unlink(part.c_str());
      r.Error = "No free file name in " + DestPath;
      return r;
    }
    r.FileName = nameOf(n);
    int e = RenameNoReplace(part, r.FileName);
    if (e == 0) {
      r.Saved = true;
      return r;
    }
    if (e != EEXIST) {
      ::unlink(part.c_str());
      r.Error = Reason("Cannot create file", r.FileName, e);
      return r;
    }
  }
}

std::string CheckWritableFolder(const std::string& Folder) {
  std::string part;
  try {
    std::unique_ptr<TFileStream> file = CreatePartFile(Folder, part);
    try {
      const char byte = 0;
      file->WriteBuffer(&byte, 1);
      file->Close();
    } catch (const EFileStreamError&) {
      file.reset();
      ::unlink(part.c_str());
      throw;
    }
  } catch (const EFileStreamError& e) {
    return std::strerror(e.Errno());
  }
  if (::unlink(part.c_str()) != 0)
    return std::strerror(errno);
  return {};
}

TDestinationCheck CheckDestinationFolder(const std::string& DestPath, const std::string& Prefix,
                                         bool Create) {
  using enum TDestinationCheck::TState;
  if (DestPath.empty())
    return {Unusable, LoadStr(sNoTargetDir)};
  // The options dialog and the settings file refuse these; a value set in any other
  // way must not send files into the working folder or out of the destination.
  std::string full;
  if (!TGlimmerfold::FullDestPath(DestPath, full) || full != DestPath)
    return {Unusable, Format(LoadStr(sDestNotFull), DestPath)};
  if (!TGlimmerfold::ValidFilePrefix(Prefix))
    return {Unusable, LoadStr(sPrefixInvalid)};
  struct stat st {};
  int e = ::stat(DestPath.c_str(), &st) != 0 ? errno : S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (e != 0) {
    // Only a folder that is simply not there can be created; a file on the way, or a
    // path the system refuses, would only fail later without saying why.
    if (e != ENOENT)
      return {Unusable, Format(LoadStr(sTargetUnusable), DestPath, std::strerror(e))};
    if (!Create)
      return {Missing, Format(LoadStr(sTargetMissingCreate), DestPath)};
    std::error_code ec;
    if (!std::filesystem::create_directories(DestPath, ec) && !ec &&
        !std::filesystem::is_directory(DestPath, ec) && !ec)
      ec = std::make_error_code(std::errc::not_a_directory);
    if (ec)
      return {Unusable, Format(LoadStr(sCreateDirFailed), DestPath) + "\r\n" + ec.message()};
  }
  // Found files would each fail with a question of their own; one box now instead.
  if (std::string why = CheckWritableFolder(DestPath); !why.empty())
    return {Unusable, Format(LoadStr(sTargetNotWritable), DestPath, why)};
  return {Usable, {}};
}

TDestinationFlush::TDestinationFlush(const std::string& Folder) {
  FFd = ::open(Folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (FFd < 0)
    FOpenError = errno;
}

TDestinationFlush::~TDestinationFlush() {
  if (FFd >= 0)
    ::close(FFd);
}

std::string TDestinationFlush::Flush() {
  if (FFd < 0)
    return std::strerror(FOpenError);
  if (::syncfs(FFd) != 0)
    return std::strerror(errno);
  return {};
}

TSummary ScanSummary(bool Completed, bool StoppedByUser, int64_t Count, int64_t NotSaved,
                     const std::string& DestPath, const std::string& FlushError,
                     const std::string& PartlyRead) {
  const std::string br = "\r\n\r\n";
  const std::string indent = "  ";
  // Files that were found but are not on disk are told of in every case, and a scan
  // that lost any does not sound like a success.
  const std::string notSaved =
      NotSaved > 0 ? Format(LoadStr(sNotSavedBody), NotSaved, DestPath) : std::string();
  // Saved files that may not be on the medium are no complete save: the user could
  // take the card or stick away at the summary.
  const bool flushed = FlushError.empty() || Count <= 0;
  const std::string notFlushed =
      flushed ? std::string() : br + Format(LoadStr(sNotFlushedBody), Count, DestPath, FlushError);
  const char* okSound = NotSaved > 0 || !flushed ? "FAILWAV" : "OKWAV";
  if (StoppedByUser)
    return {LoadStr(sCancelledTitle) + br + LoadStr(sCancelledBody) +
                (NotSaved > 0 ? br + notSaved : std::string()) + notFlushed,
            ""};
  if (Completed && !flushed)
    return {LoadStr(sNotFlushedTitle) + notFlushed + (NotSaved > 0 ? notSaved : std::string()),
            "FAILWAV"};
  if (Completed && NotSaved > 0)
    return {LoadStr(sNotSavedTitle) + br +
                (Count > 0 ? Format(LoadStr(sCompletedBody), Count, DestPath) : std::string()) +
                notSaved,
            "FAILWAV"};
  if (Completed && Count > 0)
    return {LoadStr(sCompletedTitle) + br + Format(LoadStr(sCompletedBody), Count, DestPath),
            "OKWAV"};
  if (Completed)
    return {LoadStr(sCompletedTitle) + br + LoadStr(sNothingFoundIntro) +
                LoadStr(sNothingFoundCause1) + LoadStr(sNothingFoundCause2) +
                LoadStr(sNothingFoundCause3) + LoadStr(sNothingFoundCause4),
            "FAILWAV"};
  // Every readable sector was read, and still not the whole medium: no card error to
  // look for, but no completed scan either.
  if (!Completed && !PartlyRead.empty())
    return {LoadStr(sIncompleteTitle) + br + PartlyRead +
                (Count > 0 ? Format(LoadStr(sPartlyReadSaved), Count, DestPath)
                           : LoadStr(sPartlyReadNothing)) +
                (NotSaved > 0 ? br + notSaved : std::string()) + notFlushed,
            Count > 0 ? okSound : "FAILWAV"};
  std::string checks = indent + LoadStr(sCheckSeated) + indent + LoadStr(sCheckDrivers) + indent +
                       LoadStr(sCheckCables) + LoadStr(sIncompleteAdvice) +
                       (NotSaved > 0 ? br + notSaved : std::string()) + notFlushed;
  if (Count > 0)
    return {LoadStr(sIncompleteTitle) + br + LoadStr(sIncompleteSaved) + checks, okSound};
  if (NotSaved > 0)
    return {LoadStr(sIncompleteTitle) + br + LoadStr(sIncompleteNoneSaved) + checks, "FAILWAV"};
  return {LoadStr(sIncompleteTitle) + br + LoadStr(sIncompleteNothing) + checks, "FAILWAV"};
}

} // namespace gf
