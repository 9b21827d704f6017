// The built-in recognizers, named once, in trial order. A RIFF file of form "AVI "
// or "WAVE" must meet its own recognizer before the general RIFF one.
#include "Recognizer.h"

#include "RecognizerJPG.h"

namespace gf {

void RegisterBuiltinRecognizers(TRecognizers& Registry) {
  Registry.Register(std::make_unique<TJPGRecognizer>());
}

} // namespace gf
