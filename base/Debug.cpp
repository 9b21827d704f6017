#include "Debug.h"

namespace gf {

std::atomic<bool> DebugLogEnabled{false};

TDebugLines& TDebugLines::Instance() {
  static TDebugLines lines;
  return lines;
}

void TDebugLines::Add(std::string Line) {
  std::function<void()> notify;
  {
    std::lock_guard lock(FMutex);
    FLines.push_back(std::move(Line));
    ++FVersion;
    notify = FOnChange;
  }
  if (notify)
    notify();
}

void TDebugLines::Clear() {
  std::function<void()> notify;
  {
    std::lock_guard lock(FMutex);
    FLines.clear();
    ++FVersion;
    notify = FOnChange;
  }
  if (notify)
    notify();
}

std::vector<std::string> TDebugLines::Snapshot() const {
  std::lock_guard lock(FMutex);
  return FLines;
}

std::size_t TDebugLines::Count() const {
  std::lock_guard lock(FMutex);
  return FLines.size();
}

std::vector<std::string> TDebugLines::Since(std::size_t From) const {
  std::lock_guard lock(FMutex);
  if (From >= FLines.size())
    return {};
  return {FLines.begin() + static_cast<std::ptrdiff_t>(From), FLines.end()};
}

uint64_t TDebugLines::Version() const {
  std::lock_guard lock(FMutex);
  return FVersion;
}

void TDebugLines::SetOnChange(std::function<void()> OnChange) {
  std::lock_guard lock(FMutex);
  FOnChange = std::move(OnChange);
}

void DebugLogLine(std::string Line) {
  TDebugLines::Instance().Add(std::move(Line));
}

} // namespace gf
