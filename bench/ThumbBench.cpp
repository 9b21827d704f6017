// Thumbnail figures: how many thumbnails a second the thumbnail maker makes of a
// 24-megapixel JPEG, PNG and TIFF (from memory and read back from a file, as the queue
// does), and the whole road through the main window (scan, saving, thumbnails) on a
// card image full of photos, with the thumbnail queue working and with it idle.
//   thumb_bench [MiB of card image]   (default 512)
#include "Application.h"
#include "Main.h"
#include "Recognizer.h"
#include "Registry.h"
#include "SimulatedDrives.h"
#include "Streams.h"
#include "TestDesktop.h"
#include "TestPictures.h"
#include "Thumbs.h"
#include "TiffGraphic.h"

#include <QtCore/QBuffer>
#include <QtCore/QElapsedTimer>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtWidgets/QListWidget>

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>

using namespace gf;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::time_point A, Clock::time_point B) {
  return std::chrono::duration<double>(B - A).count();
}

// A photograph-like picture: smooth gradients, shapes and fine noise, so that the
// encoders meet what a camera gives them.
QImage Photo(int Width, int Height, int Seed) {
  QImage img(Width, Height, QImage::Format_RGB32);
  QPainter p(&img);
  QLinearGradient sky(0, 0, 0, Height);
  sky.setColorAt(0, QColor::fromHsv((200 + Seed * 29) % 360, 120, 230));
  sky.setColorAt(1, QColor::fromHsv((40 + Seed * 53) % 360, 80, 200));
  p.fillRect(img.rect(), sky);
  p.setPen(Qt::NoPen);
  for (int i = 0; i < 40; ++i) {
    p.setBrush(QColor::fromHsv((i * 37 + Seed * 11) % 360, 140, 120 + (i * 13) % 120));
    p.drawEllipse(QPointF((i * 977 + Seed * 131) % Width, (i * 613 + Seed * 71) % Height),
                  Width / 12.0, Height / 14.0);
  }
  p.end();
  uint32_t r = 2654435761u * static_cast<uint32_t>(Seed + 1);
  for (int y = 0; y < Height; ++y) {
    auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
    for (int x = 0; x < Width; ++x) {
      r = r * 1664525u + 1013904223u;
      int n = static_cast<int>(r >> 29) - 4;
      QRgb c = line[x];
      line[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255),
                     std::clamp(qBlue(c) + n, 0, 255));
    }
  }
  return img;
}

std::vector<uint8_t> Encode(const QImage& Image, const char* Format, int Quality = -1) {
  QByteArray bytes;
  QBuffer buf(&bytes);
  buf.open(QIODevice::WriteOnly);
  Image.save(&buf, Format, Quality);
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

std::vector<uint8_t> Tiff(const QImage& Image) {
  TTiffGraphic tiff;
  tiff.NewImage(Image.width(), Image.height(), ifTrueColor, nullptr, 0, 0);
  for (int y = 0; y < Image.height(); ++y) {
    uint8_t* row = tiff.ScanLine(y);
    const auto* line = reinterpret_cast<const QRgb*>(Image.constScanLine(y));
    for (int x = 0; x < Image.width(); ++x) {
      row[3 * x] = static_cast<uint8_t>(qBlue(line[x]));
      row[3 * x + 1] = static_cast<uint8_t>(qGreen(line[x]));
      row[3 * x + 2] = static_cast<uint8_t>(qRed(line[x]));
    }
  }
  TMemoryStream s;
  tiff.SaveToStream(s);
  return std::vector<uint8_t>(s.Memory(), s.Memory() + s.GetSize());
}

long PeakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

void ThumbnailsPerSecond(const std::string& Dir) {
  QImage photo = Photo(6000, 4000, 1);
  struct TKind {
    const char* Name;
    std::string File;
    std::vector<uint8_t> Bytes;
  };
  TKind kinds[] = {{"JPEG (quality 90)", "photo.JPG", Encode(photo, "JPG", 90)},
                   {"PNG", "photo.PNG", Encode(photo, "PNG")},
                   {"TIFF (uncompressed)", "photo.TIF", Tiff(photo)}};
  std::printf("thumbnails of a 6000 x 4000 (24-megapixel) picture, 80 x 80:\n");
  for (TKind& k : kinds) {
    std::string path = Dir + "/" + k.File;
    test::WriteFile(path, k.Bytes);
    TMemoryStream memory;
    memory.WriteBuffer(k.Bytes.data(), k.Bytes.size());
    int n = 0;
    auto t0 = Clock::now();
    while (n < 3 || (Seconds(t0, Clock::now()) < 3 && n < 200)) {
      if (!MakeThumbnail(memory, k.File, 80, 80))
        std::printf("  no thumbnail\n");
      ++n;
    }
    double mem = Seconds(t0, Clock::now()) / n;
    int f = 0;
    t0 = Clock::now();
    while (f < 3 || (Seconds(t0, Clock::now()) < 3 && f < 200)) {
      TFileStream file(path, TFileMode::OpenRead);
      MakeThumbnail(file, path, 80, 80);
      ++f;
    }
    double disk = Seconds(t0, Clock::now()) / f;
    std::printf("  %-20s %6.1f MB: %7.1f per s from memory (%6.1f ms), %7.1f per s read back "
                "from its file (%6.1f ms)\n",
                k.Name, k.Bytes.size() / 1e6, 1 / mem, mem * 1e3, 1 / disk, disk * 1e3);
  }
  std::printf("  peak memory of the program so far: %ld MB\n", PeakRssMb());
}

// A card image of photos one after another on sector boundaries, between stretches of
// empty sectors, up to MiB.
std::string MakeCard(const std::string& Dir, uint64_t MiB, int& Files) {
  std::vector<std::vector<uint8_t>> photos;
  for (int i = 0; i < 8; ++i)
    photos.push_back(Encode(Photo(3000, 2000, 10 + i), "JPG", 88));
  std::string name = Dir + "/card.img";
  std::ofstream f(name, std::ios::binary);
  const uint64_t size = MiB << 20;
  uint64_t at = 0;
  Files = 0;
  std::vector<char> gap(256 << 10, 0);
  for (int i = 0;; ++i) {
    const auto& p = photos[static_cast<std::size_t>(i) % photos.size()];
    uint64_t padded = (p.size() + 511) / 512 * 512;
    if (at + padded + gap.size() > size)
      break;
    f.write(reinterpret_cast<const char*>(p.data()), static_cast<std::streamsize>(p.size()));
    f.write(gap.data(), static_cast<std::streamsize>(padded - p.size() + gap.size()));
    at += padded + gap.size();
    ++Files;
  }
  f.close();
  std::filesystem::resize_file(name, size);
  return name;
}

struct TRoad {
  double Summary = 0; // start to summary
  double Shown = 0;   // start to the last thumbnail
  int Saved = 0, Thumbnails = 0;
  long PeakMb = 0;
};

TRoad WholeRoad(const std::string& Dir, const std::string& Image, bool Thumbnails) {
  std::string dest = Dir + (Thumbnails ? "/on/" : "/off/");
  std::filesystem::create_directories(dest);
  TSimulatedDrives platform;
  TRegistry settings(Dir + "/settings.reg");
  test::TTestDesktop desktop;
  TFormMain form(platform, settings, desktop, {Image});
  form.Controller().SetDestPath(dest);
  form.show();
  for (int i = 0; i < form.LBDrives->count(); ++i)
    form.LBDrives->setCurrentRow(i);
  if (!Thumbnails) // the queue still takes every name; no tick makes a picture
    QObject::disconnect(&form.Timer1, nullptr, nullptr, nullptr);
  TRoad r;
  auto t0 = Clock::now();
  Clock::time_point summary{};
  desktop.OnShowText = [&] { summary = Clock::now(); };
  form.SBStartClick();
  while (desktop.Texts.empty() || (Thumbnails && form.QueuedThumbnails() > 0))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  r.Summary = Seconds(t0, summary);
  r.Shown = Seconds(t0, Clock::now());
  r.Saved = static_cast<int>(form.Recovered());
  r.Thumbnails = form.LVThumbnails->count();
  r.PeakMb = PeakRssMb();
  std::filesystem::remove_all(dest);
  return r;
}

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  uint64_t mib = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 512;
  test::TTempDir dir;
  setenv("HOME", dir.Path.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir.Path + "/.config").c_str(), 1);
  RegisterRecognizers();
  RegisterImageClasses(); // as the program does
  TApplication app(argc, argv);

  int files = 0;
  std::string image = MakeCard(dir.Path, mib, files);
  { // into the page cache, as both runs will find it
    std::ifstream f(image, std::ios::binary);
    std::vector<char> buf(1 << 20);
    while (f.read(buf.data(), static_cast<std::streamsize>(buf.size())) || f.gcount() > 0) {
    }
  }
  std::printf("whole road on a %llu MiB card image with %d photos of 3000 x 2000 (scan, "
              "saving, thumbnails):\n",
              static_cast<unsigned long long>(mib), files);
  for (bool on : {true, false}) {
    TRoad r = WholeRoad(dir.Path, image, on);
    double mb = double(mib) * 1.048576;
    std::printf(
        "  thumbnails %-3s: summary after %.2f s (%.0f MB/s), %d files saved, %d "
        "thumbnails, the last after %.2f s (%.0f MB/s); peak memory of the program so far %ld MB\n",
        on ? "on" : "off", r.Summary, mb / r.Summary, r.Saved, r.Thumbnails, r.Shown, mb / r.Shown,
        r.PeakMb);
  }
  std::filesystem::remove(image);

  ThumbnailsPerSecond(dir.Path);
  return 0;
}
