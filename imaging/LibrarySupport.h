// Module QvMisc.
// The image library's general exception and the small routines its units share.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace gf {

// Every image-library failure that has no class of its own.
class EQuorvaneError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// Separators that "/" and ":" stand for in a date or time pattern.
struct TDateSeparators {
  char Date = '/';
  char Time = ':';
};

// The separators of the C library's current time locale.
TDateSeparators LocaleDateSeparators();

// Formats a date and time with a pattern: yyyy or yy year, mm or m month, dd or d day,
// hh or h hour (24-hour clock), nn or n minute, ss or s second; "/" is the date
// separator and ":" the time separator; text in single or double quotes is copied
// as it stands, and so is every other character. Nothing process-wide is changed.
std::string FormatDateTimeWith(std::string_view Pattern, const std::tm& When,
                               TDateSeparators Separators);
// The same with the locale's separators.
std::string FormatDateWith(std::string_view Pattern, const std::tm& Date);
std::string FormatTimeWith(std::string_view Pattern, const std::tm& Time);

// Value raised to Lo, then lowered to Hi (so Hi wins when Lo > Hi).
constexpr int64_t Clamp(int64_t Value, int64_t Lo, int64_t Hi) {
  if (Value < Lo)
    Value = Lo;
  if (Value > Hi)
    Value = Hi;
  return Value;
}

// True when every bit of Flags is set in Value.
constexpr bool HasFlags(uint32_t Value, uint32_t Flags) {
  return (Value & Flags) == Flags;
}

class TImageTransform;
using TProgressEvent = std::function<void(TImageTransform& Sender, int Percent)>;

// Percent of Position between Min and Max, clamped to 0..100; calls OnProgress when
// it differs from LastPercent (255: none reported yet). Returns 0 without an event,
// and 100 when Min equals Max.
int ReportProgress(TImageTransform& Sender, int64_t Position, int64_t Min, int64_t Max,
                   uint8_t LastPercent, const TProgressEvent& OnProgress);

[[noreturn]] void RaiseLzwNotSupported();

} // namespace gf
