// Typed printf-like formatting for the directives the program uses:
// %s %d %u %x (upper-case hex) with optional '-', width and precision, %.Nf, and %%.
// A directive that does not match its argument, or a missing or extra argument,
// raises EFormatError: a bad format is a programming error, never silent output.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>

namespace gf {

class EFormatError : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

// One formatting argument; holds a view of strings, so it must not outlive the call.
class TVarRec {
public:
  enum class Kind { Integer, Float, String };

  template <typename T>
  requires(std::is_integral_v<T> && !std::is_same_v<T, bool> && !std::is_same_v<T, char>)
      TVarRec(T v)
      : FKind(Kind::Integer) {
    if constexpr (std::is_signed_v<T>) {
      FInt = static_cast<int64_t>(v);
      FUnsigned = false;
    } else {
      FUInt = static_cast<uint64_t>(v);
      FUnsigned = true;
    }
  }
  TVarRec(bool v) : FKind(Kind::Integer), FInt(v ? 1 : 0) {}
  TVarRec(double v) : FKind(Kind::Float), FFloat(v) {}
  TVarRec(const char* s) : FKind(Kind::String), FStr(s ? s : "") {}
  TVarRec(const std::string& s) : FKind(Kind::String), FStr(s) {}
  TVarRec(std::string_view s) : FKind(Kind::String), FStr(s) {}

  Kind GetKind() const { return FKind; }
  bool IsUnsigned() const { return FUnsigned; }
  int64_t AsSigned() const { return FUnsigned ? static_cast<int64_t>(FUInt) : FInt; }
  uint64_t AsUnsigned() const { return FUnsigned ? FUInt : static_cast<uint64_t>(FInt); }
  double AsFloat() const { return FFloat; }
  std::string_view AsString() const { return FStr; }

private:
  Kind FKind;
  bool FUnsigned = false;
  union {
    int64_t FInt = 0;
    uint64_t FUInt;
    double FFloat;
  };
  std::string_view FStr;
};

std::string FormatArgs(std::string_view fmt, std::initializer_list<TVarRec> args);

template <typename... A> std::string Format(std::string_view fmt, const A&... args) {
  return FormatArgs(fmt, {TVarRec(args)...});
}

// A format that is known at compile time. Log calls take only this type, so a
// run-time string (a file name, a label from the medium) can never become a format.
class TLiteralFormat {
public:
  template <std::size_t N> consteval TLiteralFormat(const char (&s)[N]) : FText(s, N - 1) {}
  std::string_view Text() const { return FText; }

private:
  std::string_view FText;
};

} // namespace gf
