// Module QvCLib.
// What the bindings onto libpng, libjpeg and libtiff use where a call crosses into the
// C library and back. No C++ exception may pass through the library's frames: an
// exception raised inside a callback is kept and raised again once the library has
// returned, and libpng's and libjpeg's fatal errors jump (they must not return) to
// the target that the protected call below puts in the binding's context.
#pragma once

#include <csetjmp>
#include <exception>
#include <utility>

namespace gf {

// Runs Call, one library call, with Target pointing at a jump target in this frame, and
// puts the previous target back afterwards, so Target never points at a finished frame;
// false when the library jumped out. Nothing here has a destructor, and nothing that
// setjmp's return can see is changed after it. The caller raises once this returns.
template <typename F> bool ProtectedCall(std::jmp_buf*& Target, F&& Call) {
  std::jmp_buf here;
  std::jmp_buf* const outer = Target;
  Target = &here;
  if (setjmp(here)) {
    Target = outer;
    return false;
  }
  Call();
  Target = outer;
  return true;
}

// Runs Call inside a library's callback; an exception it raises is kept in Kept, and
// false is returned. The catch is left by then, so the callback may jump out next.
template <typename F> bool KeepException(std::exception_ptr& Kept, F&& Call) noexcept {
  try {
    Call();
    return true;
  } catch (...) {
    Kept = std::current_exception();
    return false;
  }
}

// Raises the exception kept, if any, and forgets it.
inline void RethrowKept(std::exception_ptr& Kept) {
  if (Kept)
    std::rethrow_exception(std::exchange(Kept, nullptr));
}

} // namespace gf
