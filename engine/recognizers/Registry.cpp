// The built-in recognizers, named once, in trial order. A RIFF file of form "AVI "
// or "WAVE" must meet its own recognizer before the general RIFF one.
#include "Recognizer.h"

#include "RecognizerBMP.h"
#include "RecognizerCRW.h"
#include "RecognizerGIF.h"
#include "RecognizerJPG.h"
#include "RecognizerPNG.h"
#include "RecognizerTIFF.h"

namespace gf {

void RegisterBuiltinRecognizers(TRecognizers& Registry) {
  Registry.Register(std::make_unique<TJPGRecognizer>());
  Registry.Register(std::make_unique<TBMPRecognizer>());
  Registry.Register(std::make_unique<TGIFRecognizer>());
  Registry.Register(std::make_unique<TTIFFRecognizer>());
  Registry.Register(std::make_unique<TPNGRecognizer>());
  Registry.Register(std::make_unique<TCRWRecognizer>());
}

} // namespace gf
