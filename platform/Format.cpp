#include "Format.h"

#include <cinttypes>
#include <cstdio>

namespace gf {

namespace {

struct TSpec {
  bool LeftAlign = false;
  int Width = -1;
  int Precision = -1;
  char Type = 0;
};

std::string Pad(std::string body, const TSpec& spec) {
  if (spec.Width > 0 && body.size() < static_cast<std::size_t>(spec.Width)) {
    std::string fill(static_cast<std::size_t>(spec.Width) - body.size(), ' ');
    return spec.LeftAlign ? body + fill : fill + body;
  }
  return body;
}

std::string ZeroExtend(std::string digits, int precision) {
  if (precision > 0 && digits.size() < static_cast<std::size_t>(precision))
    digits.insert(0, static_cast<std::size_t>(precision) - digits.size(), '0');
  return digits;
}

std::string FormatOne(const TSpec& spec, const TVarRec& arg, std::string_view fmt) {
  auto mismatch = [&](const char* what) {
    return EFormatError("Format '" + std::string(fmt) + "': directive %" + spec.Type + " given " +
                        what);
  };
  char buf[64];
  switch (spec.Type) {
  case 'd':
  case 'u': {
    if (arg.GetKind() != TVarRec::Kind::Integer)
      throw mismatch(arg.GetKind() == TVarRec::Kind::String ? "a string" : "a float");
    std::string digits;
    bool negative = false;
    if (spec.Type == 'u' || arg.IsUnsigned()) {
      uint64_t v = arg.AsUnsigned();
      if (spec.Type == 'u' && !arg.IsUnsigned())
        v = static_cast<uint32_t>(arg.AsSigned());
      std::snprintf(buf, sizeof buf, "%" PRIu64, v);
      digits = buf;
    } else {
      int64_t v = arg.AsSigned();
      negative = v < 0;
      std::snprintf(buf, sizeof buf, "%" PRIu64,
                    negative ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v));
      digits = buf;
    }
    digits = ZeroExtend(digits, spec.Precision);
    return Pad(negative ? "-" + digits : digits, spec);
  }
  case 'x': {
    if (arg.GetKind() != TVarRec::Kind::Integer)
      throw mismatch(arg.GetKind() == TVarRec::Kind::String ? "a string" : "a float");
    // Negative 32-bit values print as their 32-bit pattern, as the class library's Format
    // prints them.
    uint64_t v = arg.AsUnsigned();
    if (!arg.IsUnsigned() && arg.AsSigned() < 0 && arg.AsSigned() >= INT32_MIN)
      v = static_cast<uint32_t>(arg.AsSigned());
    std::snprintf(buf, sizeof buf, "%" PRIX64, v);
    return Pad(ZeroExtend(buf, spec.Precision), spec);
  }
  case 'f': {
    double v;
    if (arg.GetKind() == TVarRec::Kind::Float)
      v = arg.AsFloat();
    else if (arg.GetKind() == TVarRec::Kind::Integer)
      v = arg.IsUnsigned() ? static_cast<double>(arg.AsUnsigned())
                           : static_cast<double>(arg.AsSigned());
    else
      throw mismatch("a string");
    std::snprintf(buf, sizeof buf, "%.*f", spec.Precision < 0 ? 2 : spec.Precision, v);
    return Pad(buf, spec);
  }
  case 's': {
    if (arg.GetKind() != TVarRec::Kind::String)
      throw mismatch("a number");
    std::string_view s = arg.AsString();
    if (spec.Precision >= 0 && s.size() > static_cast<std::size_t>(spec.Precision))
      s = s.substr(0, static_cast<std::size_t>(spec.Precision));
    return Pad(std::string(s), spec);
  }
  default:
    throw EFormatError("Format '" + std::string(fmt) + "': invalid directive");
  }
}

} // namespace

std::string FormatArgs(std::string_view fmt, std::initializer_list<TVarRec> args) {
  std::string out;
  out.reserve(fmt.size() + 16);
  auto next = args.begin();
  std::size_t i = 0;
  while (i < fmt.size()) {
    char c = fmt[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i < fmt.size() && fmt[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    TSpec spec;
    if (i < fmt.size() && fmt[i] == '-') {
      spec.LeftAlign = true;
      ++i;
    }
    auto number = [&]() {
      int n = 0;
      bool any = false;
      while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
        n = n * 10 + (fmt[i++] - '0');
        any = true;
        if (n > 1000)
          throw EFormatError("Format '" + std::string(fmt) + "': width too large");
      }
      return any ? n : -1;
    };
    spec.Width = number();
    if (i < fmt.size() && fmt[i] == '.') {
      ++i;
      spec.Precision = number();
      if (spec.Precision < 0)
        spec.Precision = 0;
    }
    if (i >= fmt.size())
      throw EFormatError("Format '" + std::string(fmt) + "': directive cut short");
    spec.Type = static_cast<char>(fmt[i] | 0x20); // accept upper-case directives too
    if (spec.Type == 'x' && fmt[i] == 'X')
      spec.Type = 'x';
    ++i;
    if (next == args.end())
      throw EFormatError("Format '" + std::string(fmt) + "': too few arguments");
    out += FormatOne(spec, *next++, fmt);
  }
  if (next != args.end())
    throw EFormatError("Format '" + std::string(fmt) + "': too many arguments");
  return out;
}

} // namespace gf
