#include "Controller.h"

#include "Debug.h"
#include "Drives.h"
#include "Format.h"
#include "Language.h"
#include "Registry.h"
#include "UserDirs.h"

namespace gf {

namespace {
const char* const SettingsKey = "SOFTWARE\\Tessaloon\\Glimmerfold\\2.0";
// Posted to ourselves when a scan ends that had a device change waiting: the
// scanner only counts as idle once its done handler has returned.
constexpr uint32_t WM_REFRESHPENDING = WM_USER + 10;
} // namespace

TDrive* TDriveInfo::GetDrive() const {
  return FOwner.DriveManager().FindDrive(FName);
}

std::string TDriveInfo::GetDisplayName() const {
  TDrive* d = GetDrive();
  return d ? d->GetDisplayName() : std::string();
}

uint8_t TDriveInfo::GetKind() const {
  TDrive* d = GetDrive();
  return d ? static_cast<uint8_t>(d->Kind()) : static_cast<uint8_t>(dkUnknown);
}

bool TDriveInfo::HasMedium() const {
  TDrive* d = GetDrive();
  return d && d->Medium();
}

uint32_t TDriveInfo::GetSectorSize() const {
  TDrive* d = GetDrive();
  return d && d->Medium() ? d->Medium()->SectorSize() : 0;
}

uint32_t TDriveInfo::GetSectorCount() const {
  TDrive* d = GetDrive();
  return d && d->Medium() ? d->Medium()->SectorCount() : 0;
}

bool TDriveInfo::HoldsFolder(const std::string& Folder) const {
  TDrive* d = GetDrive();
  return d && d->HoldsFolder(Folder);
}

uint64_t TDriveInfo::GetCapacity() const {
  TDrive* d = GetDrive();
  return d && d->Medium() ? d->Medium()->DeviceBytes() : 0;
}

bool TDriveInfo::IsTruncated() const {
  TDrive* d = GetDrive();
  return d && d->Medium() && d->Medium()->Truncated();
}

TGlimmerfold::TGlimmerfold(TDrivePlatform& Platform, TRegistry& Settings)
    : FWindow(std::make_unique<TMessageWindow>([this](TMessage& m) { WndProc(m); })),
      FSettings(Settings), FDriveManager(std::make_unique<TDriveManager>(Platform)),
      FScanner(std::make_unique<TScanner>()) {
  FScanner->OnDone = [this](TScanner& s, bool completed) { ScannerDone(s, completed); };
  FScanner->OnFileFound = [this](TScanner&, std::unique_ptr<TMemoryStream> stream,
                                 const std::string& name) {
    if (OnFileFound)
      OnFileFound(*this, name, std::move(stream));
  };
  FScanner->OnProgress = [this](TScanner&, int32_t, int64_t position, int64_t count) {
    if (OnProgress)
      OnProgress(*this, position, count);
  };
}

TGlimmerfold::~TGlimmerfold() {
  if (IsScanning())
    StopScan();
  FWindow.reset();
  FDriveInfos.clear();
  FScanner.reset();
  FDriveManager.reset();
}

bool TGlimmerfold::StartScan(const std::string& Root) {
  if (IsScanning())
    return false;
  FStoppedByUser = false;
  TDrive* drive = FDriveManager->FindDrive(Root);
  if (!drive || !drive->Medium()) {
    if (OnScanDone)
      OnScanDone(*this, false, false, std::string());
    return false;
  }
  if (!FScanner->Start(drive->Medium()))
    return false;
  if (OnScanStarted)
    OnScanStarted(*this);
  return true;
}

void TGlimmerfold::StopScan() {
  if (!IsScanning())
    return;
  FStoppedByUser = true;
  FScanner->Stop();
}

bool TGlimmerfold::IsScanning() const {
  return FScanner->IsRunning();
}
int32_t TGlimmerfold::FoundCount() const {
  return FScanner->FoundCount();
}
void TGlimmerfold::SetPaused(bool Value) {
  FScanner->Paused = Value;
}

void TGlimmerfold::RefreshDrives() {
  if (IsScanning())
    return;
  FRefreshPending = false;
  FDriveManager->Refresh();
  // The drive list leaves image files alone; measure them again too, so that an
  // image rewritten (or a card swapped behind a device path) is read as it is now.
  for (int i = 0; i < FDriveManager->Count(); ++i)
    if (TDrive* d = FDriveManager->GetDrive(i); d->Kind() == dkImageFile)
      d->Detect();
  while (!FDriveInfos.empty())
    FDriveInfos.pop_back();
  for (int i = 0; i < FDriveManager->Count(); ++i)
    FDriveInfos.push_back(std::make_unique<TDriveInfo>(*this, FDriveManager->GetDrive(i)->Root()));
  if (OnDrivesChanged)
    OnDrivesChanged(*this);
}

TDriveInfo* TGlimmerfold::GetDriveInfo(int Index) const {
  return FDriveInfos.at(static_cast<std::size_t>(Index)).get();
}

TDriveInfo* TGlimmerfold::FindDriveInfo(const std::string& Root) const {
  for (auto& i : FDriveInfos)
    if (i->Name() == Root)
      return i.get();
  return nullptr;
}

std::string TGlimmerfold::AddImageFile(const std::string& Path) {
  TDrive* d = FDriveManager->AddImageFile(Path);
  if (!d)
    return {};
  std::string root = d->Root();
  RefreshDrives();
  return root;
}

std::string TGlimmerfold::DefaultDestPath() const {
  std::string base = UserDir("PICTURES");
  if (base.empty())
    base = UserDir("DOCUMENTS");
  if (base.empty())
    base = HomeFolder();
  if (!base.empty() && base.back() == '/')
    base.pop_back();
  return base + "/" + LoadStr(sDefaultDestFolder);
}

bool TGlimmerfold::FullDestPath(const std::string& Value, std::string& Full) {
  if (Value.find('\0') != std::string::npos)
    return false;
  if (Value == "~" || Value.starts_with("~/")) {
    std::string home = HomeFolder();
    if (!home.empty() && home.back() == '/')
      home.pop_back();
    Full = home + Value.substr(1);
    if (Full.empty())
      Full = "/"; // "~" when the home folder is the root
  } else {
    Full = Value;
  }
  return Full.empty() || Full.front() == '/';
}

bool TGlimmerfold::ValidFilePrefix(const std::string& Value) {
  return Value.find_first_of(std::string("/\0", 2)) == std::string::npos;
}

void TGlimmerfold::LoadSettings() {
  // A stored value of the wrong type counts as missing: its default applies, the
  // log names it, and the store is left as it is until the next save.
  auto readString = [&](const char* name, std::string& out) {
    if (!FSettings.ValueExists(SettingsKey, name))
      return false;
    try {
      out = FSettings.ReadString(SettingsKey, name);
      return true;
    } catch (const ERegistryException& e) {
      DebugLog("SETTINGS: Ignoring stored value %s: %s", name, e.what());
      return false;
    }
  };
  auto readBool = [&](const char* name, bool fallback) {
    if (!FSettings.ValueExists(SettingsKey, name))
      return fallback;
    try {
      return FSettings.ReadBool(SettingsKey, name);
    } catch (const ERegistryException& e) {
      DebugLog("SETTINGS: Ignoring stored value %s: %s", name, e.what());
      return fallback;
    }
  };
  std::string s, full;
  if (readString("DestPath", s)) {
    if (FullDestPath(s, full))
      SetDestPath(full);
    else
      DebugLog("SETTINGS: Ignoring stored value DestPath: \"%s\" is not a full path", s);
  }
  if (FDestPath.empty())
    SetDestPath(DefaultDestPath());
  bool prefix = readString("FilePrefix", s);
  if (prefix && !ValidFilePrefix(s)) {
    DebugLog("SETTINGS: Ignoring stored value FilePrefix: \"%s\" contains \"/\"", s);
    prefix = false;
  }
  SetFilePrefix(prefix ? s : LoadStr(sDefaultPrefix));
  SetThumbnailExisting(readBool("ThumbnailExisting", false));
  SetClearThumbs(readBool("ClearThumbs", true));
}

void TGlimmerfold::SaveSettings() {
  FSettings.WriteString(SettingsKey, "DestPath", FDestPath);
  FSettings.WriteString(SettingsKey, "FilePrefix", FFilePrefix);
  FSettings.WriteBool(SettingsKey, "ThumbnailExisting", FThumbnailExisting);
  FSettings.WriteBool(SettingsKey, "ClearThumbs", FClearThumbs);
}

void TGlimmerfold::ChangeOption(bool Changed) {
  if (Changed && OnOptionsChanged)
    OnOptionsChanged(*this);
}

void TGlimmerfold::SetDestPath(const std::string& Value) {
  std::string v = Value;
  if (!v.empty() && v.back() != '/')
    v += '/';
  bool changed = v != FDestPath;
  FDestPath = v;
  ChangeOption(changed);
}

void TGlimmerfold::SetFilePrefix(const std::string& Value) {
  bool changed = Value != FFilePrefix;
  FFilePrefix = Value;
  ChangeOption(changed);
}

void TGlimmerfold::SetThumbnailExisting(bool Value) {
  bool changed = Value != FThumbnailExisting;
  FThumbnailExisting = Value;
  ChangeOption(changed);
}

void TGlimmerfold::SetClearThumbs(bool Value) {
  bool changed = Value != FClearThumbs;
  FClearThumbs = Value;
  ChangeOption(changed);
}

void TGlimmerfold::ScannerDone(TScanner& Sender, bool Completed) {
  if (FRefreshPending)
    FWindow->Post(WM_REFRESHPENDING);
  std::string msg;
  if (const TMedium* m = Sender.Medium(); m && Sender.EndedAtSectorLimit()) {
    msg = Format(LoadStr(sPartlyReadBody), FormatSize(m->ReadableBytes() / 1024),
                 FormatSize(m->DeviceBytes() / 1024));
    DebugLog("CONTROLLER: The scan of %s read its first %d sectors of %d", m->RootName(),
             m->SectorCount(), m->DeviceSectors());
  }
  if (OnScanDone)
    OnScanDone(*this, Completed, FStoppedByUser, msg);
}

void TGlimmerfold::WndProc(TMessage& Message) {
  if (Message.Msg == WM_DEVICECHANGE) {
    if (Message.WParam == DBT_DEVICEARRIVAL || Message.WParam == DBT_DEVICEREMOVECOMPLETE) {
      if (IsScanning())
        FRefreshPending = true;
      else
        RefreshDrives();
    }
  } else if (Message.Msg == WM_REFRESHPENDING) {
    if (FRefreshPending)
      RefreshDrives(); // still refused (and kept pending) if a new scan started meanwhile
  }
}

} // namespace gf
