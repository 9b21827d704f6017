// The built-in recognizers, named once, in trial order. A RIFF file of form "AVI "
// or "WAVE" must meet its own recognizer before the general RIFF one.
#include "Recognizer.h"

#include "RecognizerJPG.h"
#include "RecognizerMOV.h"
#include "RecognizerMP3.h"
#include "RecognizerMPG.h"
#include "RecognizerRIFF.h"

namespace gf {

void RegisterBuiltinRecognizers(TRecognizers& Registry) {
  Registry.Register(std::make_unique<TJPGRecognizer>());
  Registry.Register(std::make_unique<TMPEGRecognizer>());
  Registry.Register(std::make_unique<TAVIRecognizer>());
  Registry.Register(std::make_unique<TWAVRecognizer>());
  Registry.Register(std::make_unique<TRIFFRecognizer>());
  Registry.Register(std::make_unique<TMOVRecognizer>());
  Registry.Register(std::make_unique<TMP3Recognizer>());
}

} // namespace gf
