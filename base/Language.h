// The table of every text the user sees, by fixed identifier. LoadStr takes a text
// at the moment of use, so a translated table changes the texts without code changes.
#pragma once

#include <cstdint>
#include <string>

namespace gf {

enum TMessageId : int {
  // Saving, the destination and the prefix: a string-table block of their own.
  sNotSavedTitle = 65232,       // summary title: scan completed, files not saved
  sNotSavedBody = 65233,        // %d = count, %s = folder
  sIncompleteNoneSaved = 65234, // summary body: scan incomplete, files found, none saved
  sTargetNotWritable = 65235,   // %s = folder, %s = reason
  sPrefixInvalid = 65236,
  sDestNotFull = 65237,       // %s = path
  sTargetUnusable = 65238,    // %s = folder, %s = reason
  sNotFlushedTitle = 65239,   // summary title: scan completed, files not written through
  sIncompleteNothing = 65248, // summary body: scan incomplete, nothing saved
  sCheckSeated = 65249,
  sCheckDrivers = 65250,
  sCheckCables = 65251,
  sIncompleteAdvice = 65252,
  sCancelledTitle = 65253,
  sCancelledBody = 65254,
  sNewFolder = 65255,
  sOptionsCaption = 65264,
  sDefaultPrefix = 65265,
  sDefaultDestFolder = 65266,
  sNoTargetDir = 65267,
  sTargetMissingCreate = 65268, // %s = folder
  sCreateDirFailed = 65269,     // %s = folder
  sUnformatted = 65270,
  sCompletedTitle = 65271,
  sCompletedBody = 65272, // %d = count, %s = folder
  sNothingFoundIntro = 65273,
  sNothingFoundCause1 = 65274,
  sNothingFoundCause2 = 65275,
  sNothingFoundCause3 = 65276,
  sNothingFoundCause4 = 65277,
  sIncompleteTitle = 65278,
  sIncompleteSaved = 65279,
  sProductTitle = 65283,
  sUnitKB = 65284,
  sUnitMB = 65285,
  sUnitGB = 65286,
  sUnitTB = 65287,
  sFixedDiskWarning = 65288,  // %s = drive root
  sSaveErrorContinue = 65289, // %s = error message
  sUnknown = 65290,
  sKindFloppy = 65291,
  sKindFixedDisk = 65292,
  sKindRemovable = 65293,
  sKindCDROM = 65294,
  sNotReady = 65295,
  sTrashFailed = 65310,         // %s = the files, each on a line of its own
  sTrashFailedMore = 65311,     // %d = the files not named in the box
  sNotFlushedBody = 65312,      // %d = count, %s = folder, %s = reason
  sDestOnScannedMedium = 65313, // %s = folder, %s = drive root
  // A medium with more sectors than can be numbered, read only in part.
  sPartlyReadWarning = 65314, // %s = drive root, %s = its size, %s = the size that is read
  sPartlyReadBody = 65315,    // %s = the size read, %s = the medium's size
  sPartlyReadSaved = 65316,   // %d = count, %s = folder
  sPartlyReadNothing = 65317,
  // What the main window waits for while files are written.
  sWritingFile = 65320, // %s = type key, %s = size
  sStoppingAfterFile = 65321,
  sStopping = 65322,
  sFlushing = 65323,
};

// The text of a message; empty for an identifier outside the table.
std::string LoadStr(int Id);

// The capacity text of a size in kB, in the table's units: "61.5 MB".
std::string FormatSize(uint64_t KB);

} // namespace gf
