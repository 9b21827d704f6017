// Module QvCLib.
// The protected call that the bindings onto libpng and libjpeg run each library call
// in. Both libraries report fatal errors through a callback that must not return, and a
// C++ exception cannot be thrown through their C frames with defined behaviour, so the
// callback jumps to the target this call puts in the binding's context.
#pragma once

#include <csetjmp>

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

} // namespace gf
