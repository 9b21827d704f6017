// Part files: the hidden new file in a folder that a file's bytes go into before it
// takes its name, so that a failed or killed write never leaves a cut file under that
// name; and the removal of those that writers which ended left behind.
#pragma once

#include "Streams.h"

#include <cstdint>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace gf {

// How a part file's bytes are on the medium once it has taken its name. The one rule
// for every writer; which of the two depends on who tells the user that it is safe.
enum class TWriteOut {
  // The file is written through (fsync) before it takes the name, and the folder
  // after: when the call returns, a crash or power cut leaves the new file. For a file
  // that replaces another, whose old bytes would otherwise be lost with the new ones.
  Durable,
  // The write-out is only started (sync_file_range, SYNC_FILE_RANGE_WRITE), while the
  // caller goes on; the caller writes the whole file system through (syncfs) before it
  // reports the files as saved. For many new files in a row, where a wait for each
  // one would cost far more than the writing.
  Deferred,
};

// Whether Name is a part file's name, ".glimmerfold-<pid>-<n>.part"; Pid is then its
// writer's process.
bool IsPartFileName(const std::string& Name, int64_t* Pid = nullptr);

// A new part file in Folder ("" for the working folder, with or without the final
// "/"), open for writing. It is removed when it is destroyed without having taken a
// name.
class TPartFile {
public:
  // Raises the create's EFileStreamError; its text names the part file, so callers
  // report the file they were asked for with its Errno.
  TPartFile(const std::string& Folder, TWriteOut WriteOut);
  ~TPartFile();
  TPartFile(const TPartFile&) = delete;
  TPartFile& operator=(const TPartFile&) = delete;

  TFileStream& Stream() { return *FStream; }
  int Handle() const { return FStream->Handle(); }
  const std::string& Name() const { return FName; }

  // Makes the part file what the file OldName (a regular file, as Old describes it) is
  // apart from its bytes: owner and group, extended attributes, permissions. False,
  // with nothing raised, when any of them cannot be kept: the caller then writes into
  // the old file instead of replacing it.
  bool TakeOver(const std::string& OldName, const struct stat& Old);
  // Ends the write by the rule and closes the file; raises EFileStreamError.
  void Finish();
  // The finished part file takes Target's name, replacing what has it. 0, or errno.
  int Replace(const std::string& Target);
  // The finished part file takes Target's name unless anything has it
  // (RenameNoReplace). 0, EEXIST when taken, or another errno.
  int PlaceNew(const std::string& Target);
  // Removes the part file now. 0, or errno.
  int Discard();

private:
  int Placed(int Errno, const std::string& Target);

  TWriteOut FWriteOut;
  std::string FName;
  std::unique_ptr<TFileStream> FStream;
  bool FGone = false;
};

struct TLeftoverPartFile {
  std::string Name; // in the folder
  int Errno = 0;    // 0: removed, else why not
};

// Removes from Folder the part files whose writer is gone (kill(pid, 0) fails with
// ESRCH: killed, or the system went down): only names of the pattern above, only
// plain files, never what a link points to. A writer that runs, or that the system
// does not tell about, may be writing its own at this moment. What was tried, each
// with its outcome; nothing when the folder cannot be read.
std::vector<TLeftoverPartFile> RemoveLeftoverPartFiles(const std::string& Folder);

} // namespace gf
