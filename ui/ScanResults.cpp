#include "ScanResults.h"

#include "Controller.h"
#include "Debug.h"
#include "Format.h"
#include "Language.h"
#include "PartFile.h"
#include "Streams.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <iterator>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace gf {

namespace {

// The numbers stay within what the summary and the counters show.
constexpr int64_t LastNumber = INT32_MAX;

std::string Reason(const char* What, const std::string& Name, int Errno) {
  return std::string(What) + " \"" + Name + "\". " + std::strerror(Errno);
}

} // namespace

TResult<std::vector<std::string>> RemoveStalePartFiles(const std::string& Folder) {
  TResult<std::vector<std::string>> removed;
  if (Folder.empty())
    return removed;
  for (const TLeftoverPartFile& f : RemoveLeftoverPartFiles(Folder)) {
    if (f.Errno != 0) {
      DebugLog("MAIN: Cannot remove %s, left by a run that ended: %s", Folder + f.Name,
               std::strerror(f.Errno));
      if (removed.Ok())
        removed.Error = Reason("Cannot remove", Folder + f.Name, f.Errno);
      continue;
    }
    DebugLog("MAIN: Removed %s, left by a run that ended before it was saved", Folder + f.Name);
    removed.Value.push_back(f.Name);
  }
  return removed;
}

TResult<std::vector<std::string>> ExistingFiles(const std::string& DestPath,
                                                const std::string& Prefix) {
  TResult<std::vector<std::string>> r;
  std::vector<std::string>& names = r.Value;
  if (DestPath.empty())
    return r; // a relative search would look into whatever folder the program started in
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
    r.Error = ec.message();
  std::sort(names.begin(), names.end());
  return r;
}

int64_t TTakenNames::FirstUnknown(const std::string& Key, int64_t N) const {
  auto key = FRuns.find(Key);
  if (key == FRuns.end())
    return N;
  // Runs never touch (Add joins them), so N lies in at most one.
  auto run = key->second.upper_bound(N);
  if (run == key->second.begin())
    return N;
  --run;
  return N < run->second ? run->second : N;
}

void TTakenNames::Add(const std::string& Key, int64_t N) {
  auto& runs = FRuns[Key];
  auto next = runs.upper_bound(N);
  if (next != runs.begin()) {
    auto prev = std::prev(next);
    if (N < prev->second)
      return; // known already
    if (N == prev->second) {
      prev->second = N + 1;
      if (next != runs.end() && next->first == N + 1) {
        prev->second = next->second;
        runs.erase(next);
      }
      return;
    }
  }
  if (next != runs.end() && next->first == N + 1) {
    const int64_t end = next->second;
    runs.erase(next);
    runs.emplace(N, end);
    return;
  }
  runs.emplace(N, N + 1);
}

TSaveResult SaveFoundFile(const std::string& DestPath, const std::string& Prefix, int64_t First,
                          const std::string& Key, TMemoryStream& Stream, TTakenNames* Taken) {
  TSaveResult r;
  auto nameOf = [&](int64_t n) { return DestPath + Prefix + std::to_string(n) + "." + Key; };
  int64_t n = First < 0 ? 0 : First;
  // A "/" would lead out of the folder, and a NUL would cut the name short, so that
  // every number would seem taken.
  const std::string unsafe("/\0", 2);
  if (Prefix.find_first_of(unsafe) != std::string::npos ||
      Key.find_first_of(unsafe) != std::string::npos || DestPath.find('\0') != std::string::npos) {
    r.Value = nameOf(n);
    r.Error = Reason("Cannot create file", r.Value, EINVAL);
    return r;
  }
  // The first number not known to be taken from First up, and then whose name is free.
  auto next = [&](int64_t From) { return Taken ? Taken->FirstUnknown(Key, From) : From; };
  auto taken = [&](int64_t N) {
    if (Taken)
      Taken->Add(Key, N);
  };
  // The name the file will most likely get, for the error texts.
  n = next(n);
  for (struct stat st{}; n <= LastNumber && ::lstat(nameOf(n).c_str(), &st) == 0;) {
    taken(n);
    n = next(n + 1);
  }
  if (n > LastNumber) {
    r.Error = "No free file name in " + DestPath;
    return r;
  }
  r.Value = nameOf(n);
  // Its write-out starts as it is finished, while the scan goes on, so that the flush
  // before the summary finds little left to write.
  std::unique_ptr<TPartFile> part;
  try {
    part = std::make_unique<TPartFile>(DestPath, TWriteOut::Deferred);
  } catch (const EFileStreamError& e) {
    r.Error = Reason("Cannot create file", r.Value, e.Errno());
    return r;
  }
  try {
    Stream.SetPosition(0);
    part->Stream().WriteBuffer(Stream.Memory(), static_cast<std::size_t>(Stream.GetSize()));
    part->Finish();
  } catch (const EFileStreamError& e) {
    r.Error = Reason("Cannot write file", r.Value, e.Errno());
    return r;
  }
  for (;; n = next(n + 1)) {
    if (n > LastNumber) {
      r.Error = "No free file name in " + DestPath;
      return r;
    }
    r.Value = nameOf(n);
    int e = part->PlaceNew(r.Value);
    if (e == 0) {
      taken(n);
      return r;
    }
    if (e != EEXIST) {
      r.Error = Reason("Cannot create file", r.Value, e);
      return r;
    }
    taken(n); // someone took it meanwhile
  }
}

TResult<> CheckWritableFolder(const std::string& Folder) {
  try {
    TPartFile part(Folder, TWriteOut::Deferred);
    const char byte = 0;
    part.Stream().WriteBuffer(&byte, 1);
    part.Stream().Close();
    if (const int e = part.Discard())
      return {{}, std::strerror(e)};
  } catch (const EFileStreamError& e) {
    return {{}, std::strerror(e.Errno())};
  }
  return {};
}

TResult<TDestinationState> CheckDestinationFolder(const std::string& DestPath,
                                                  const std::string& Prefix, bool Create) {
  using enum TDestinationState;
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
  if (TResult<> writable = CheckWritableFolder(DestPath); !writable.Ok())
    return {Unusable, Format(LoadStr(sTargetNotWritable), DestPath, writable.Error)};
  return {Usable, {}};
}

TResult<> CheckDestinationOffMedium(const TDriveInfo& Drive, const std::string& DestPath) {
  if (!Drive.HoldsFolder(DestPath))
    return {};
  return {{}, Format(LoadStr(sDestOnScannedMedium), DestPath, Drive.Name())};
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

TResult<> TDestinationFlush::Flush() {
  if (FFd < 0)
    return {{}, std::strerror(FOpenError)};
  if (::syncfs(FFd) != 0)
    return {{}, std::strerror(errno)};
  return {};
}

TDestinationWriter::TDestinationWriter() = default;
TDestinationWriter::~TDestinationWriter() = default;

void TDestinationWriter::Begin(const std::string& DestPath) {
  FTaken.Clear();
  FFlush = std::make_unique<TDestinationFlush>(DestPath);
}

TSaveResult TDestinationWriter::Save(const std::string& DestPath, const std::string& Prefix,
                                     int64_t First, const std::string& Key, TMemoryStream& Stream) {
  return SaveFoundFile(DestPath, Prefix, First, Key, Stream, &FTaken);
}

TResult<> TDestinationWriter::Flush() {
  return FFlush ? FFlush->Flush() : TResult<>();
}

void TDestinationWriter::End() {
  FFlush.reset();
  FTaken.Clear();
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
