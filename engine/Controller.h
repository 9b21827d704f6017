// Module GFClasses.
// The recovery controller: the one object through which the user interface drives
// the engine. Owns the drive manager and the scanner, keeps the four settings,
// follows device changes, and turns scanner messages into its own events. Everything
// here runs on the thread that created it (the user-interface thread).
#pragma once

#include "Scanner.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace gf {

class TDriveManager;
class TDrive;
class TDrivePlatform;
class TRegistry;
class TGlimmerfold;

using TNotifyEvent = std::function<void(TGlimmerfold& Sender)>;
using TFileFoundEvent = std::function<void(TGlimmerfold& Sender, const std::string& Name,
                                           std::unique_ptr<TMemoryStream> Stream)>;
// Msg: why a scan that was not stopped by the user did not complete although it read
// up to its last sector (a medium read only in part), as a text for the user; else empty.
using TScanDoneEvent = std::function<void(TGlimmerfold& Sender, bool Completed, bool StoppedByUser,
                                          const std::string& Msg)>;
using TScanProgressEvent =
    std::function<void(TGlimmerfold& Sender, int64_t Position, int64_t SectorCount)>;

constexpr uint32_t DBT_DEVICEARRIVAL = 0x8000;
constexpr uint32_t DBT_DEVICEREMOVECOMPLETE = 0x8004;

// The user interface's handle on one drive, by root; every query looks the drive up
// anew, so a drive that went away answers with defaults.
class TDriveInfo {
public:
  TDriveInfo(TGlimmerfold& Owner, std::string Name) : FOwner(Owner), FName(std::move(Name)) {}
  const std::string& Name() const { return FName; }
  TDrive* GetDrive() const;
  std::string GetDisplayName() const;
  uint8_t GetKind() const;
  bool HasMedium() const;
  uint32_t GetSectorSize() const;
  uint32_t GetSectorCount() const;
  // Whether files saved into Folder can land on the drive's medium (TDrive::HoldsFolder).
  bool HoldsFolder(const std::string& Folder) const;
  // The bytes of the whole medium, also beyond the sectors that can be read: the
  // medium IsTruncated when it holds more than GetSectorCount (TMedium::Truncated).
  uint64_t GetCapacity() const;
  bool IsTruncated() const;

private:
  TGlimmerfold& FOwner;
  std::string FName;
};

class TGlimmerfold {
public:
  // Platform: the drives and devices to list (the Linux backend in the program, a
  // simulated one in tests). Settings: the store of the current user's settings.
  TGlimmerfold(TDrivePlatform& Platform, TRegistry& Settings);
  ~TGlimmerfold();
  TGlimmerfold(const TGlimmerfold&) = delete;
  TGlimmerfold& operator=(const TGlimmerfold&) = delete;

  // Whether the scan started. One refused for want of a medium has raised OnScanDone
  // (not completed); one refused while another runs, nothing.
  bool StartScan(const std::string& Root);
  void StopScan();
  bool IsScanning() const;
  int32_t FoundCount() const;
  void SetPaused(bool Value);

  void RefreshDrives();
  int DriveInfoCount() const { return static_cast<int>(FDriveInfos.size()); }
  TDriveInfo* GetDriveInfo(int Index) const;
  TDriveInfo* FindDriveInfo(const std::string& Root) const;
  // Adds a disk image or block device path as an image-file drive; its root, or
  // empty when it could not be added. The drive list is refreshed.
  std::string AddImageFile(const std::string& Path);

  void LoadSettings();
  void SaveSettings();

  const std::string& DestPath() const { return FDestPath; }
  const std::string& FilePrefix() const { return FFilePrefix; }
  bool ThumbnailExisting() const { return FThumbnailExisting; }
  bool ClearThumbs() const { return FClearThumbs; }
  bool StoppedByUser() const { return FStoppedByUser; }
  void SetDestPath(const std::string& Value);
  void SetFilePrefix(const std::string& Value);
  void SetThumbnailExisting(bool Value);
  void SetClearThumbs(bool Value);

  // A destination as the user writes it, made a full path: a leading "~/" (or a lone
  // "~") stands for the home folder. False for a path that is relative after that or
  // holds a NUL, which Full is then not. An empty path stays empty (the start checks
  // answer it).
  static bool FullDestPath(const std::string& Value, std::string& Full);
  // Whether a prefix keeps the saved files in the destination folder: no "/", no NUL.
  static bool ValidFilePrefix(const std::string& Value);

  // The destination used when none is stored: the user's Pictures folder, else the
  // Documents folder, else the home folder, then "Recovered" and a trailing "/".
  std::string DefaultDestPath() const;

  TDriveManager& DriveManager() { return *FDriveManager; }
  TScanner& Scanner() { return *FScanner; }
  // Receives the device-change message (WM_DEVICECHANGE with DBT_* in WParam).
  TMessageWindow& Window() { return *FWindow; }

  TFileFoundEvent OnFileFound;
  TNotifyEvent OnOptionsChanged;
  TNotifyEvent OnDrivesChanged;
  TNotifyEvent OnScanStarted;
  TScanDoneEvent OnScanDone;
  TScanProgressEvent OnProgress;

private:
  void WndProc(TMessage& Message);
  void ScannerDone(TScanner& Sender, bool Completed);
  void ChangeOption(bool Changed);

  bool FStoppedByUser = false;
  bool FRefreshPending = false; // a device change arrived during a scan
  std::unique_ptr<TMessageWindow> FWindow;
  bool FThumbnailExisting = false;
  bool FClearThumbs = true;
  std::string FFilePrefix;
  std::string FDestPath;
  TRegistry& FSettings;
  std::unique_ptr<TDriveManager> FDriveManager;
  std::unique_ptr<TScanner> FScanner;
  std::vector<std::unique_ptr<TDriveInfo>> FDriveInfos;
};

} // namespace gf
