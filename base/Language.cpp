#include "Language.h"

#include "Format.h"

#include <cmath>
#include <unordered_map>

namespace gf {

namespace {

const std::unordered_map<int, const char*>& Table() {
  static const std::unordered_map<int, const char*> table = {
      {sNotSavedTitle, "Scan Completed, Files Not Saved."},
      {sNotSavedBody,
       "%d Images could not be saved to %s\r\nThe destination may be full, write-protected or "
       "gone. Free some space or choose another destination, then re-run the scan.\r\n"},
      {sIncompleteNoneSaved,
       "Glimmerfold did not complete its scan. This could be caused by errors on the card or a "
       "damaged card. Images were found prior to the scan terminating, but none of them could "
       "be saved. Try re-running the scan, if the error occurs repeatedly check the "
       "following:\r\n"},
      {sTargetNotWritable, "The target directory %s cannot be written to:\r\n%s"},
      {sTargetUnusable, "The target directory %s cannot be used:\r\n%s"},
      {sNotFlushedTitle, "Scan Completed, Files May Not Be on the Disk."},
      {sPrefixInvalid, "The file name prefix must not contain \"/\"."},
      {sDestNotFull,
       "The destination path %s is not a full path.\r\nEnter a path that begins with \"/\", or "
       "with \"~/\" for your home folder."},
      {sIncompleteNothing,
       "Glimmerfold did not complete its scan of the media and no images were found. This can "
       "indicate a severe problem with the media or a damaged card. Try re-running the scan, if "
       "the error occurs repeatedly check the following:\r\n\r\n"},
      {sCheckSeated, "The media is seated properly.\r\n"},
      {sCheckDrivers, "The drivers are installed properly and are the latest versions.\r\n"},
      {sCheckCables, "The cables are securely in place.\r\n"},
      {sIncompleteAdvice,
       "\r\nIf none of this helps you may want to format the card in the reader, *CAUTION* if "
       "you format the media or use the prep utility data may become irretrievable."},
      {sCancelledTitle, "Scan Cancelled"},
      {sCancelledBody,
       "Glimmerfold was in the process of searching for recoverable images and files. Since the "
       "scan was terminated by the user the entire drive was not searched, there may be "
       "additional images or files available for recovery."},
      {sNewFolder, "New Folder"},
      {sOptionsCaption, "Options"},
      {sDefaultPrefix, "Image"},
      {sDefaultDestFolder, "Recovered"},
      {sNoTargetDir, "No target directory selected."},
      {sTargetMissingCreate, "The target directory %s does not exist.\r\nCreate it?"},
      {sCreateDirFailed, "Failed to create directory %s"},
      {sUnformatted, "<Unformatted>"},
      {sCompletedTitle, "Scan Completed."},
      {sCompletedBody,
       "Glimmerfold has completed scanning the media for images and files.\r\n%d Images were "
       "found and recovered.\r\nImages were saved to %s\r\n"},
      {sNothingFoundIntro,
       "Glimmerfold has finished scanning the media, however no images or files were "
       "found.There are several possibilities why this could happen.\r\n\r\n"},
      {sNothingFoundCause1,
       "1. Some cameras overwrite deleted images and files with 0's. If this occurs then images "
       "and files cannot be recovered.Please consult the users guide for known "
       "incompatibilities. There is no work around for this. If your camera does this it is a "
       "good idea to delete images or format cards in the reader rather then the "
       "camera.\r\n\r\n"},
      {sNothingFoundCause2,
       "2. The card was exposed to a magnetic field, excessive heat or humidity causing severe "
       "corruption to the card. If this occurred there may be no way to recover images and "
       "files. In the case of IBM Micro drives severe shock (dropping) the drive may cause "
       "irreparable damage to the Micro Drive making images and files unrecoverable.\r\n\r\n"},
      {sNothingFoundCause3,
       "3. The image format your camera saves in is not supported by the software. Run the "
       "internet update utility or contact support for the latest version of "
       "Glimmerfold.\r\n\r\n"},
      {sNothingFoundCause4,
       "4. The Dalvoke or Ternish utility was run on the card instead of a standard format. "
       "This can occur if the utility is set as the standard formatter. Once the prep utility "
       "is run there is no way to recover data from the media. You should only run this "
       "utility when needed. Consult your medias owners guide or the guide provided with your "
       "reader or camera for more information.\r\n"},
      {sIncompleteTitle, "Scan Incomplete."},
      {sIncompleteSaved,
       "Glimmerfold did not complete its scan. This could be caused by errors on the card or a "
       "damaged card. However, images were recovered prior to the scan terminating. Try "
       "re-running the scan, if the error occurs repeatedly check the following:\r\n"},
      {sProductTitle, "Glimmerfold(tm) for Digital Media"},
      {sUnitKB, "kB"},
      {sUnitMB, "MB"},
      {sUnitGB, "GB"},
      {sUnitTB, "TB"},
      {sFixedDiskWarning,
       "This software is not designed to work with hard disks.\r\nPlease ensure drive %s is a "
       "digital camera media.\r\nContinue?"},
      {sSaveErrorContinue, "Error saving file:%s\r\nContinue scanning?"},
      {sUnknown, "Unknown"},
      {sKindFloppy, "Floppy"},
      {sKindFixedDisk, "Fixed Disk"},
      {sKindRemovable, "Removable"},
      {sKindCDROM, "CD-ROM"},
      {sNotReady, "<Not Ready>"},
      {sTrashFailed, "These files could not be moved to the trash and are still in place:%s"},
      {sTrashFailedMore, "\r\nand %d more, which the debug log names."},
      {sNotFlushedBody,
       "%d Images were saved to %s but could not be written through to the disk: %s\r\nThey may "
       "be cut or missing there. Do not remove the disk yet; check the files, or re-run the "
       "scan into another destination.\r\n"},
      {sDestOnScannedMedium,
       "The target directory %s lies on drive %s, which is about to be scanned.\r\nEvery file "
       "saved there can overwrite deleted images before the scan finds them. Choose a target "
       "directory on another disk in Options.\r\nContinue anyway?"},
      {sWritingFile, "Writing the %s file found (%s) to the destination..."},
      {sStoppingAfterFile, "Stopping once the file being written is saved..."},
      {sStopping, "Stopping the scan..."},
      {sFlushing, "Writing the recovered files to the disk..."},
      {sPartlyReadWarning,
       "Drive %s holds %s, but Glimmerfold can read only its first %s.\r\nThe rest of the "
       "medium will not be searched.\r\nContinue?"},
      {sPartlyReadBody,
       "Glimmerfold read only the first %s of the %s on this medium: it cannot reach the sectors "
       "beyond them. The rest of the medium was not searched, and there may be additional "
       "images or files there.\r\n"},
      {sPartlyReadSaved,
       "%d Images were found and recovered in the part that was read.\r\nImages were saved to "
       "%s\r\n"},
      {sPartlyReadNothing, "No images or files were found in the part that was read.\r\n"},
  };
  return table;
}

} // namespace

std::string LoadStr(int Id) {
  auto it = Table().find(Id);
  return it == Table().end() ? std::string() : std::string(it->second);
}

std::string FormatSize(uint64_t KB) {
  double x = static_cast<double>(KB);
  int u = 1;
  while (x >= 1024 && u < 4) {
    x /= 1024;
    ++u;
  }
  // Halves round away from zero (1.25 MB shows as 1.3 MB), not to even as printf's
  // %f would (x is exact for any medium's size in kB, below 2^53, divided by a power of
  // two, and so is x * 10).
  x = std::round(x * 10) / 10;
  std::string s = Format("%1.1f", x);
  if (auto comma = s.find(','); comma != std::string::npos)
    s[comma] = '.';
  static const int units[] = {sUnitKB, sUnitMB, sUnitGB, sUnitTB};
  return s + " " + LoadStr(units[u - 1]);
}

} // namespace gf
