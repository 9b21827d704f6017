// libFuzzer target: arbitrary bytes made into a thumbnail, as a carved file would be.
// The first byte picks the type (JPG, BMP, PNG, TIF); run with "-seeds DIR" it writes
// a small valid picture of each type into DIR instead. Besides the sanitizers'
// findings, a thumbnail of another size than asked, or none at all, aborts.
#include "Application.h"
#include "Debug.h"
#include "Streams.h"
#include "Thumbs.h"
#include "TiffGraphic.h"

#include <QtCore/QBuffer>
#include <QtGui/QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>

using namespace gf;

namespace {

const char* const Names[] = {"f.JPG", "f.BMP", "f.PNG", "f.TIF"};

[[noreturn]] void Fail(const char* What) {
  std::fprintf(stderr, "thumbs_fuzz: %s\n", What);
  std::abort();
}

void WriteSeed(const std::string& Dir, int Type, const std::vector<uint8_t>& Bytes) {
  std::ofstream f(Dir + "/seed" + std::to_string(Type), std::ios::binary);
  f.put(static_cast<char>(Type));
  f.write(reinterpret_cast<const char*>(Bytes.data()), static_cast<std::streamsize>(Bytes.size()));
}

void WriteSeeds(const std::string& Dir) {
  std::filesystem::create_directories(Dir);
  QImage img(24, 16, QImage::Format_RGB32);
  img.fill(QColor(200, 80, 40));
  const char* formats[] = {"JPG", "BMP", "PNG"};
  for (int t = 0; t < 3; ++t) {
    QByteArray bytes;
    QBuffer buf(&bytes);
    buf.open(QIODevice::WriteOnly);
    img.save(&buf, formats[t]);
    WriteSeed(Dir, t, std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
  TTiffGraphic tiff;
  tiff.NewImage(24, 16, ifTrueColor, nullptr, 0, 0);
  TMemoryStream s;
  tiff.SaveToStream(s);
  WriteSeed(Dir, 3, std::vector<uint8_t>(s.Memory(), s.Memory() + s.GetSize()));
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* Argc, char*** Argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "thumbs_fuzz";
  static char* argv[] = {name, nullptr};
  static QGuiApplication* app = new QGuiApplication(argc, argv); // for the image readers
  (void)app;
  RegisterModules();      // as the program starts
  DebugLogEnabled = true; // log lines format hostile values too
  for (int i = 1; i + 1 < *Argc; ++i)
    if (std::strcmp((*Argv)[i], "-seeds") == 0) {
      WriteSeeds((*Argv)[i + 1]);
      std::exit(0);
    }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  if (Size == 0)
    return 0;
  TMemoryStream s;
  if (Size > 1)
    s.WriteBuffer(Data + 1, Size - 1);
  std::optional<QImage> t = MakeThumbnail(s, Names[Data[0] % 4], 80, 80);
  TDebugLines::Instance().Clear();
  if (!t)
    Fail("no thumbnail, not even the broken picture");
  if (t->size() != QSize(80, 80))
    Fail("a thumbnail of the wrong size");
  return 0;
}
