// The destination folder and what goes into it: the checks before a scan, saving found
// files under numbered names, and the summary at the end of a scan. No window is needed
// for any of them, so they are tested on their own.
#pragma once

#include "PartFile.h"

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace gf {

class TDriveInfo;
class TMemoryStream;

// What a step of the saving came to, the one shape in which each step here answers:
// done, or why not in a text for the user that names the file or folder, with what the
// step gives either way (a file's name, a list of names, the destination's state).
template <typename T = std::monostate> struct TResult {
  T Value{};
  std::string Error; // empty: done
  bool Ok() const { return Error.empty(); }
};

// A found file's save; its Value is the name the file took, or would have had.
using TSaveResult = TResult<std::string>;

// The numbers whose names were found taken during one scan, for each type key, so that
// each file's search for a free name passes over them without asking the file system
// again: a second scan into a folder of thousands of files would otherwise test each of
// their names again for every file it saves.
class TTakenNames {
public:
  void Clear() { FRuns.clear(); }
  // The first number from N up not known to be taken for Key.
  int64_t FirstUnknown(const std::string& Key, int64_t N) const;
  void Add(const std::string& Key, int64_t N);

private:
  // For each key, runs of taken numbers: first -> one past the last.
  std::map<std::string, std::map<int64_t, int64_t>> FRuns;
};

// Writes the stream's bytes to DestPath + Prefix + N + "." + Key, for the first N from
// First up whose name is free; with Taken, the names it knows are taken are not tested
// again, and those found taken are added to it. The bytes go to a hidden file in the
// folder first, which takes its name only once it is complete and is removed when it
// is not, so a full or failing destination leaves no empty or cut file behind. The name
// is taken without ever replacing: one that anyone took meanwhile moves on to the next
// number. Never throws for file-system errors.
TSaveResult SaveFoundFile(const std::string& DestPath, const std::string& Prefix, int64_t First,
                          const std::string& Key, TMemoryStream& Stream,
                          TTakenNames* Taken = nullptr);

// Whether a found file can be saved into Folder, by writing a byte to a hidden file
// there and removing it; the error is the system's reason why not. Permission bits
// alone would not tell (they do not bind the superuser, nor show a read-only mount or a
// full disk).
TResult<> CheckWritableFolder(const std::string& Folder);

// What the checks before a scan find about the destination. The result's error is the
// text to show: for Missing the question whether to create it, for Unusable the box.
enum class TDestinationState { Usable, Missing, Unusable };

// Checks the destination for a scan: set, a full path, a prefix that keeps the files in
// it, an existing folder that can be written. A folder that does not exist is Missing,
// unless Create is set, when it is made with its missing parents; any other reason the
// system gives for the path (a file on the way, no permission) makes it Unusable, with
// that reason, and nothing is created.
TResult<TDestinationState> CheckDestinationFolder(const std::string& DestPath,
                                                  const std::string& Prefix, bool Create);

// Whether the files saved into DestPath would land apart from the medium of Drive; the
// error, when they would land on it, where they can overwrite what is still to be found,
// is the warning to give before a scan.
TResult<> CheckDestinationOffMedium(const TDriveInfo& Drive, const std::string& DestPath);

// Removes from Folder the part files (PartFile.h) of runs that ended before they could
// finish them (killed, or the system went down): only files of this program's name
// pattern, only plain files, only where their process is gone. The names removed, each
// also logged, as is each that could not be, whose reason is also the error.
TResult<std::vector<std::string>> RemoveStalePartFiles(const std::string& Folder);

// The names of the files already in DestPath under Prefix, in name order: plain files
// only, never a part file; the error is why the folder could not be read.
TResult<std::vector<std::string>> ExistingFiles(const std::string& DestPath,
                                                const std::string& Prefix);

// The destination's file system, written through to its medium once the scan's last
// file is saved. It is opened when the scan starts, because the system reports a failed
// write-back only to files that were open when it happened.
class TDestinationFlush {
public:
  explicit TDestinationFlush(const std::string& Folder);
  ~TDestinationFlush();
  TDestinationFlush(const TDestinationFlush&) = delete;
  TDestinationFlush& operator=(const TDestinationFlush&) = delete;

  // Writes every file of the folder's file system to its medium and waits until that is
  // done (syncfs); the error is the system's reason why not.
  TResult<> Flush();

private:
  int FFd = -1;
  int FOpenError = 0;
};

// Where the window's found files go, and the flush once the last is saved; the window
// calls it on its saver thread, one call at a time. The program writes into the
// destination folder; tests put a slow or failing writer in its place.
class TFoundFileWriter {
public:
  virtual ~TFoundFileWriter() = default;
  // A scan into DestPath starts (before its first file).
  virtual void Begin(const std::string& DestPath) = 0;
  // Saves a found file as SaveFoundFile does.
  virtual TSaveResult Save(const std::string& DestPath, const std::string& Prefix, int64_t First,
                           const std::string& Key, TMemoryStream& Stream) = 0;
  // Writes the scan's files through to their medium.
  virtual TResult<> Flush() = 0;
  // The scan has ended (after its flush, if any).
  virtual void End() = 0;
};

// Saves into the destination folder, with the names taken in the scan remembered.
class TDestinationWriter : public TFoundFileWriter {
public:
  TDestinationWriter();
  ~TDestinationWriter() override;
  void Begin(const std::string& DestPath) override;
  TSaveResult Save(const std::string& DestPath, const std::string& Prefix, int64_t First,
                   const std::string& Key, TMemoryStream& Stream) override;
  TResult<> Flush() override;
  void End() override;

private:
  TTakenNames FTaken;
  std::unique_ptr<TDestinationFlush> FFlush;
};

struct TSummary {
  std::string Text;
  std::string Sound; // empty: no sound
};

// The text and sound for the end of a scan; Count is the number of files saved,
// NotSaved the number of files found that could not be saved, FlushError why the saved
// files could not be written through to the medium (empty: they were). PartlyRead: the
// controller's text for a scan that read its medium only in part (empty otherwise).
TSummary ScanSummary(bool Completed, bool StoppedByUser, int64_t Count, int64_t NotSaved,
                     const std::string& DestPath, const std::string& FlushError = {},
                     const std::string& PartlyRead = {});

} // namespace gf
