// The destination folder and what goes into it: the checks before a scan, saving found
// files under numbered names, and the summary at the end of a scan. No window is needed
// for any of them, so they are tested on their own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gf {

class TMemoryStream;

struct TSaveResult {
  std::string FileName; // the name taken; when not saved, the name the file would have had
  bool Saved = false;   // every byte was written
  std::string Error;    // the error's text when not saved
};

// Writes the stream's bytes to DestPath + Prefix + N + "." + Key, for the first N from
// First up whose name is free. The bytes go to a hidden file in the folder first, which
// takes its name only once it is complete and is removed when it is not, so a full or
// failing destination leaves no empty or cut file behind. The name is taken without
// ever replacing: one that anyone took meanwhile moves on to the next number. Never
// throws for file-system errors.
TSaveResult SaveFoundFile(const std::string& DestPath, const std::string& Prefix, int64_t First,
                          const std::string& Key, TMemoryStream& Stream);

// Whether a found file can be saved into Folder, by writing a byte to a hidden file
// there and removing it: the system's reason why not, or empty. Permission bits alone
// would not tell (they do not bind the superuser, nor show a read-only mount or a full
// disk).
std::string CheckWritableFolder(const std::string& Folder);

// What the checks before a scan find about the destination.
struct TDestinationCheck {
  enum TState { Usable, Missing, Unusable };
  TState State = Usable;
  std::string Text; // Missing: the question whether to create it; Unusable: the box's text
};

// Checks the destination for a scan: set, a full path, a prefix that keeps the files in
// it, an existing folder that can be written. A folder that does not exist is Missing,
// unless Create is set, when it is made with its missing parents; any other reason the
// system gives for the path (a file on the way, no permission) makes it Unusable, with
// that reason, and nothing is created.
TDestinationCheck CheckDestinationFolder(const std::string& DestPath, const std::string& Prefix,
                                         bool Create);

// Whether Name is one of the hidden files that found files are written to before they
// take their own names (".glimmerfold-<pid>-<n>.part"); Pid is then its writer's.
bool IsPartFileName(const std::string& Name, int64_t* Pid = nullptr);

// Removes from Folder the part files of runs that ended before they could finish them
// (killed, or the system went down): only files of this program's name pattern, only
// plain files, only where their process is gone. The names removed, each also logged.
std::vector<std::string> RemoveStalePartFiles(const std::string& Folder);

// The names of the files already in DestPath under Prefix, in name order: plain files
// only, never a part file. Error: why the folder could not be read, else empty.
std::vector<std::string> ExistingFiles(const std::string& DestPath, const std::string& Prefix,
                                       std::string& Error);

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
  // done (syncfs): empty when done, else the system's reason.
  std::string Flush();

private:
  int FFd = -1;
  int FOpenError = 0;
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
