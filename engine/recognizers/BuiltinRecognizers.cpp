// The built-in recognizers, named once, in trial order. A RIFF file of form "AVI "
// or "WAVE" must meet its own recognizer before the general RIFF one.
#include "Recognizer.h"

#include "RecognizerBMP.h"
#include "RecognizerCRW.h"
#include "RecognizerGIF.h"
#include "RecognizerJPG.h"
#include "RecognizerMOV.h"
#include "RecognizerMP3.h"
#include "RecognizerMPG.h"
#include "RecognizerPNG.h"
#include "RecognizerRIFF.h"
#include "RecognizerTIFF.h"

namespace gf {

void RegisterBuiltinRecognizers(TRecognizers& Registry) {
  Registry.Register(std::make_unique<TJPGRecognizer>());
  Registry.Register(std::make_unique<TBMPRecognizer>());
  Registry.Register(std::make_unique<TGIFRecognizer>());
  Registry.Register(std::make_unique<TTIFFRecognizer>());
  Registry.Register(std::make_unique<TPNGRecognizer>());
  Registry.Register(std::make_unique<TMPEGRecognizer>());
  Registry.Register(std::make_unique<TAVIRecognizer>());
  Registry.Register(std::make_unique<TWAVRecognizer>());
  Registry.Register(std::make_unique<TRIFFRecognizer>());
  Registry.Register(std::make_unique<TMOVRecognizer>());
  Registry.Register(std::make_unique<TCRWRecognizer>());
  Registry.Register(std::make_unique<TMP3Recognizer>());
}

} // namespace gf
