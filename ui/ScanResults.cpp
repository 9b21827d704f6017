#include "ScanResults.h"

#include "Format.h"
#include "Language.h"
#include "Streams.h"

#include <cerrno>
#include <climits>
#include <memory>

namespace gf {

namespace {
// The numbers stay within what the summary and the counters show.
constexpr int64_t LastNumber = INT32_MAX;
} // namespace

TSaveResult SaveFoundFile(const std::string& DestPath, const std::string& Prefix, int64_t First,
                          const std::string& Key, TMemoryStream& Stream) {
  TSaveResult r;
  for (int64_t n = First < 0 ? 0 : First;; ++n) {
    if (n > LastNumber) {
      r.Error = "No free file name in " + DestPath;
      return r;
    }
    r.FileName = DestPath + Prefix + std::to_string(n) + "." + Key;
    std::unique_ptr<TFileStream> file;
    try {
      file = std::make_unique<TFileStream>(r.FileName, TFileMode::CreateExclusive);
    } catch (const EFileStreamError& e) {
      if (e.Errno() == EEXIST)
        continue;
      r.Error = e.what();
      return r;
    }
    try {
      Stream.SetPosition(0);
      file->WriteBuffer(Stream.Memory(), static_cast<std::size_t>(Stream.GetSize()));
      r.Saved = true;
    } catch (const EStreamError& e) {
      r.Error = e.what();
    }
    return r;
  }
}

TSummary ScanSummary(bool Completed, bool StoppedByUser, int64_t Count,
                     const std::string& DestPath) {
  const std::string br = "\r\n\r\n";
  const std::string indent = "  ";
  if (StoppedByUser)
    return {LoadStr(sCancelledTitle) + br + LoadStr(sCancelledBody), ""};
  if (Completed && Count > 0)
    return {LoadStr(sCompletedTitle) + br + Format(LoadStr(sCompletedBody), Count, DestPath),
            "OKWAV"};
  if (Completed)
    return {LoadStr(sCompletedTitle) + br + LoadStr(sNothingFoundIntro) +
                LoadStr(sNothingFoundCause1) + LoadStr(sNothingFoundCause2) +
                LoadStr(sNothingFoundCause3) + LoadStr(sNothingFoundCause4),
            "FAILWAV"};
  std::string checks = indent + LoadStr(sCheckSeated) + indent + LoadStr(sCheckDrivers) + indent +
                       LoadStr(sCheckCables) + LoadStr(sIncompleteAdvice);
  if (Count > 0)
    return {LoadStr(sIncompleteTitle) + br + LoadStr(sIncompleteSaved) + checks, "OKWAV"};
  return {LoadStr(sIncompleteTitle) + br + LoadStr(sIncompleteNothing) + checks, "FAILWAV"};
}

} // namespace gf
