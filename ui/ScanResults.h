// Saving found files under numbered names, and the summary at the end of a scan.
// No window is needed for either, so both are tested on their own.
#pragma once

#include <cstdint>
#include <string>

namespace gf {

class TMemoryStream;

struct TSaveResult {
  std::string FileName; // the name taken (also when writing failed)
  bool Saved = false;   // every byte was written
  std::string Error;    // the error's text when not saved
};

// Writes the stream's bytes to DestPath + Prefix + N + "." + Key, for the first N from
// First up whose name is free. The file is created exclusively, so a name taken by
// anyone meanwhile moves on to the next number and no file is ever overwritten. A
// partly written file stays. Never throws for file-system errors.
TSaveResult SaveFoundFile(const std::string& DestPath, const std::string& Prefix, int64_t First,
                          const std::string& Key, TMemoryStream& Stream);

struct TSummary {
  std::string Text;
  std::string Sound; // empty: no sound
};

// The text and sound for the end of a scan; Count is the number of files saved.
TSummary ScanSummary(bool Completed, bool StoppedByUser, int64_t Count,
                     const std::string& DestPath);

} // namespace gf
