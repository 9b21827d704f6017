// Thumbnail figures: the whole road through the main window (scan, saving, thumbnails)
// on a card image full of photos, with the thumbnail queue working and with it idle;
// the window loading a set of 24-megapixel JPEG, PNG and TIFF files as existing
// thumbnails, with the program's peak memory meanwhile; and how long one thumbnail of
// each of those takes (from memory and read back from a file, as the queue does). Both
// window runs print the worst lateness of a 10 ms timer on the window's thread.
//   thumb_bench [MiB of card image]   (default 512)
#include "Application.h"
#include "Main.h"
#include "Registry.h"
#include "SimulatedDrives.h"
#include "Streams.h"
#include "TestDesktop.h"
#include "TestPictures.h"
#include "ThumbQueue.h"
#include "Thumbs.h"
#include "TiffGraphic.h"

#include <QtCore/QBuffer>
#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtGui/QImage>
#include <QtGui/QPainter>
#include <QtWidgets/QListWidget>

#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

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

// The program's peak resident memory since the start or the last ResetPeakRss.
long PeakRssMb() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmHWM:", 0) == 0)
      return std::strtol(line.c_str() + 6, nullptr, 10) / 1024;
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss / 1024;
}

// Starts the peak over from the memory in use now; false where the system refuses.
bool ResetPeakRss() {
  std::ofstream f("/proc/self/clear_refs");
  f << "5";
  f.flush();
  return f.good();
}

// Notes how late a 10 ms timer on the window's thread runs while it is on.
class TStallMeter {
public:
  TStallMeter() {
    FTick.setInterval(10);
    QObject::connect(&FTick, &QTimer::timeout, [this] {
      auto now = Clock::now();
      FWorst = std::max(FWorst, Seconds(FLast, now) - 0.010);
      FLast = now;
    });
  }
  void Start() {
    FLast = Clock::now();
    FTick.start();
  }
  void Stop() { FTick.stop(); }
  double Worst() const { return FWorst; }

private:
  QTimer FTick;
  Clock::time_point FLast;
  double FWorst = 0;
};

// Runs the event loop until the queue has placed every thumbnail.
void WaitForThumbnails(TFormMain& Form) {
  while (Form.QueuedThumbnails() > 0)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

struct TKind {
  const char* Name;
  const char* Ext;
  std::function<std::vector<uint8_t>(const QImage&)> Encode;
};

const TKind Kinds[] = {
    {"JPEG (quality 90)", "JPG", [](const QImage& i) { return Encode(i, "JPG", 90); }},
    {"PNG", "PNG", [](const QImage& i) { return Encode(i, "PNG"); }},
    {"TIFF (uncompressed)", "TIF", [](const QImage& i) { return Tiff(i); }},
};

// The 24-megapixel pictures, Copies of each kind, written into Dir one at a time.
std::vector<std::string> MakeLargeSet(const std::string& Dir, int Copies) {
  std::filesystem::create_directories(Dir);
  std::vector<std::string> files;
  QImage photo = Photo(6000, 4000, 1);
  for (const TKind& k : Kinds)
    for (int i = 1; i <= Copies; ++i) {
      std::string name = Dir + "/Image" + std::to_string(files.size() + 1) + "." + k.Ext;
      test::WriteFile(name, k.Encode(photo));
      files.push_back(name);
    }
  return files;
}

void LargeSetInTheWindow(const std::string& Dir, const std::vector<std::string>& Files) {
  TSimulatedDrives platform;
  TRegistry settings(Dir + "/../settings.reg");
  test::TTestDesktop desktop;
  TFormMain form(platform, settings, desktop, {});
  form.Controller().SetDestPath(Dir + "/");
  form.show();
  QCoreApplication::processEvents();
  bool reset = ResetPeakRss();
  long before = PeakRssMb();
  TStallMeter stall;
  stall.Start();
  auto t0 = Clock::now();
  form.LoadExistingThumbnails();
  WaitForThumbnails(form);
  double took = Seconds(t0, Clock::now());
  stall.Stop();
  std::printf("the window loading %zu files of 6000 x 4000 as existing thumbnails (JPEG, PNG, "
              "TIFF):\n  %d thumbnails in %.2f s; worst lateness of a 10 ms timer %.0f ms; "
              "peak memory %ld MB (%s %ld MB before)\n",
              Files.size(), form.LVThumbnails->count(), took, stall.Worst() * 1e3, PeakRssMb(),
              reset ? "reset to" : "not reset, from the start;", before);
}

void ThumbnailsPerSecond(const std::vector<std::string>& Files) {
  std::printf("one thumbnail of a 6000 x 4000 (24-megapixel) picture, 80 x 80:\n");
  for (const std::string& path : Files) {
    std::vector<uint8_t> bytes = test::ReadFile(path);
    TMemoryStream memory;
    memory.WriteBuffer(bytes.data(), bytes.size());
    int n = 0;
    auto t0 = Clock::now();
    while (n < 3 || (Seconds(t0, Clock::now()) < 3 && n < 200)) {
      if (!MakeThumbnail(memory, path, 80, 80))
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
    std::string ext = std::filesystem::path(path).extension().string();
    std::printf("  %-5s %6.1f MB: %7.1f per s from memory (%6.1f ms), %7.1f per s read back "
                "from its file (%6.1f ms)\n",
                ext.c_str() + 1, bytes.size() / 1e6, 1 / mem, mem * 1e3, 1 / disk, disk * 1e3);
    if (ext == ".JPG") {
      // The reduced decode against the whole picture, to show what the scaling saves.
      QImage whole;
      t0 = Clock::now();
      whole.loadFromData(bytes.data(), static_cast<int>(bytes.size()), "JPG");
      std::printf("        the whole %d x %d picture decoded: %6.1f ms\n", whole.width(),
                  whole.height(), Seconds(t0, Clock::now()) * 1e3);
    }
  }
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
  double WorstStall = 0; // lateness of a 10 ms timer on the window's thread
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
    QObject::disconnect(&form.Thumbnails().Timer1, nullptr, nullptr, nullptr);
  TRoad r;
  TStallMeter stall;
  stall.Start();
  auto t0 = Clock::now();
  Clock::time_point summary{};
  desktop.OnShowText = [&] { summary = Clock::now(); };
  form.SBStartClick();
  while (desktop.Texts.empty() || (Thumbnails && form.QueuedThumbnails() > 0))
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  r.Summary = Seconds(t0, summary);
  r.Shown = Seconds(t0, Clock::now());
  // A stall just before the summary (the flush) shows only once the loop runs again.
  for (auto until = Clock::now() + std::chrono::milliseconds(30); Clock::now() < until;)
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  stall.Stop();
  r.WorstStall = stall.Worst();
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
  RegisterModules();
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
  // Each road twice, by turns, the faster run of each counting: the first run of the
  // program pays for things the later ones do not (the card image's writing back, the
  // first windows), and would otherwise tip the comparison whichever road it is.
  ::sync();
  TRoad best[2];
  double worstOn = 0; // over both runs with thumbnails
  for (int round = 0; round < 2; ++round)
    for (bool on : {false, true}) {
      TRoad r = WholeRoad(dir.Path, image, on);
      double mb = double(mib) * 1.048576;
      std::printf("  thumbnails %-3s: summary after %.2f s (%.0f MB/s), %d files saved, %d "
                  "thumbnails, the last after %.2f s (%.0f MB/s); worst lateness of a 10 ms "
                  "timer %.0f ms; peak memory of the program so far %ld MB\n",
                  on ? "on" : "off", r.Summary, mb / r.Summary, r.Saved, r.Thumbnails, r.Shown,
                  mb / r.Shown, r.WorstStall * 1e3, r.PeakMb);
      if (on)
        worstOn = std::max(worstOn, r.WorstStall);
      TRoad& b = best[on ? 1 : 0];
      if (round == 0 || r.Summary < b.Summary)
        b = r;
    }
  std::printf("  summary with thumbnails (the faster of two runs each): %.2f s against %.2f s "
              "without, %+.0f%%; worst lateness of a 10 ms timer in both runs with thumbnails "
              "%.0f ms\n",
              best[1].Summary, best[0].Summary, (best[1].Summary / best[0].Summary - 1) * 100,
              worstOn * 1e3);
  std::filesystem::remove(image);

  std::vector<std::string> large = MakeLargeSet(dir.Path + "/large", 2);
  LargeSetInTheWindow(dir.Path + "/large", large);
  ThumbnailsPerSecond({large[0], large[2], large[4]});
  return 0;
}
