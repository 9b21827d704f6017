#include "LibrarySupport.h"

#include <cstdio>
#include <langinfo.h>

namespace gf {

// The first separator character in a strftime pattern of the locale.
static char SeparatorOf(const char* Pattern, char Default) {
  if (!Pattern)
    return Default;
  for (const char* p = Pattern; *p; ++p) {
    if (*p == '%') {
      if (p[1] == '\0')
        break;
      ++p;
      if (*p == 'E' || *p == 'O') // modifiers
        if (p[1] != '\0')
          ++p;
      continue;
    }
    if (*p != ' ')
      return *p;
  }
  return Default;
}

TDateSeparators LocaleDateSeparators() {
  TDateSeparators s;
  s.Date = SeparatorOf(nl_langinfo(D_FMT), '/');
  s.Time = SeparatorOf(nl_langinfo(T_FMT), ':');
  return s;
}

std::string FormatDateTimeWith(std::string_view Pattern, const std::tm& When,
                               TDateSeparators Separators) {
  std::string out;
  auto number = [&out](int Value, int Digits) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%0*d", Digits, Value);
    out += buf;
  };
  std::size_t i = 0;
  while (i < Pattern.size()) {
    const char c = Pattern[i];
    const char lower = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    std::size_t run = 1;
    auto sameAs = [&](std::size_t k) {
      const char d = Pattern[k];
      return d == c || d == (c ^ 0x20);
    };
    while (i + run < Pattern.size() && sameAs(i + run))
      ++run;
    switch (lower) {
    case 'y':
      if (run >= 4) {
        number(When.tm_year + 1900, 4);
        run = 4;
      } else {
        number((When.tm_year + 1900) % 100, 2);
        run = std::min<std::size_t>(run, 2);
      }
      break;
    case 'm':
    case 'd':
    case 'h':
    case 'n':
    case 's': {
      const int value = lower == 'm'   ? When.tm_mon + 1
                        : lower == 'd' ? When.tm_mday
                        : lower == 'h' ? When.tm_hour
                        : lower == 'n' ? When.tm_min
                                       : When.tm_sec;
      run = std::min<std::size_t>(run, 2);
      number(value, static_cast<int>(run));
      break;
    }
    case '/':
      out += Separators.Date;
      run = 1;
      break;
    case ':':
      out += Separators.Time;
      run = 1;
      break;
    case '\'':
    case '"': {
      const std::size_t end = Pattern.find(c, i + 1);
      const std::size_t stop = end == std::string_view::npos ? Pattern.size() : end;
      out.append(Pattern.substr(i + 1, stop - i - 1));
      run = stop - i + (end == std::string_view::npos ? 0 : 1);
      break;
    }
    default:
      out += c;
      run = 1;
    }
    i += run;
  }
  return out;
}

std::string FormatDateWith(std::string_view Pattern, const std::tm& Date) {
  return FormatDateTimeWith(Pattern, Date, LocaleDateSeparators());
}

std::string FormatTimeWith(std::string_view Pattern, const std::tm& Time) {
  return FormatDateTimeWith(Pattern, Time, LocaleDateSeparators());
}

int ReportProgress(TImageTransform& Sender, int64_t Position, int64_t Min, int64_t Max,
                   uint8_t LastPercent, const TProgressEvent& OnProgress) {
  if (!OnProgress)
    return 0;
  // One step from Min to Max (an image one row high) is the whole way.
  const int64_t percent = Max == Min ? 100 : Clamp((Position - Min) * 100 / (Max - Min), 0, 100);
  if (percent != LastPercent)
    OnProgress(Sender, static_cast<int>(percent));
  return static_cast<int>(percent);
}

void RaiseLzwNotSupported() {
  throw EQuorvaneError("LZW compression not supported");
}

} // namespace gf
