// How well the main window keeps up with the scanner at full speed: scans one large
// image file (sparse, a few pictures at its start) through the controller alone (once
// untimed, to warm the process up as the window run finds it) and once through the
// main window in Qt's offscreen platform, and prints the times, the share of the
// window's time spent saving in its file-found handler, the progress messages handled,
// how late the window's event loop ran, how long the summary took after the scan's
// end, and the memory the window run added.
//   ui_scan_bench [MiB]              (default 4096)
//   ui_scan_bench --mixed [MiB]      (default 1024)
//   ui_scan_bench --camera [FILES]   (default 1100)
//   --throttle MBps, with any of them: the files go through a stand-in writer that saves
//   them at that speed, like a slow stick; the window's worst stall is then the figure
//   to watch.
// --mixed scans the mixed card image of scan_bench instead (MixedImage.h): the whole
// road, with every found file saved, so it also prints the files and bytes written.
// --camera scans a camera card of many pictures of 50 KB to 5 MB, where the costs of
// each file show, and prints the time of each stage: scanning, building the found
// files (from a run of the controller alone that measures its worker's stages), and
// saving (the window's file-found handler). Both print a digest of the saved files,
// which a change that leaves every found byte as it was keeps. --camera then scans the
// card again into the same folder, where each name search starts among the first
// scan's files, and prints that run's saving time. The files are saved
// under TMPDIR (as the image is written), whose file system the saving time follows.
#include "Application.h"
#include "Controller.h"
#include "Digest.h"
#include "Main.h"
#include "MixedImage.h"
#include "Registry.h"
#include "SimulatedDrives.h"
#include "TestDesktop.h"
#include "TestWriter.h"
#include "Format.h"
#include "TestPictures.h"

#include <QtCore/QElapsedTimer>
#include <QtCore/QTimer>
#include <QtWidgets/QListWidget>

#include <sys/resource.h>
#include <sys/vfs.h>

#include <algorithm>
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

long PeakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

std::string MakeImage(const std::string& Dir, uint64_t MiB) {
  std::string name = Dir + "/large.img";
  std::ofstream f(name, std::ios::binary);
  for (int i = 0; i < 4; ++i) {
    auto jpeg = test::MakeJpeg(i);
    jpeg.resize((jpeg.size() + 511) / 512 * 512, 0);
    f.write(reinterpret_cast<const char*>(jpeg.data()), static_cast<std::streamsize>(jpeg.size()));
  }
  f.close();
  std::filesystem::resize_file(name, MiB << 20);
  return name;
}

std::string MakeMixed(const std::string& Dir, uint64_t MiB) {
  std::string name = Dir + "/mixed.img";
  bench::TPlaced placed;
  bench::TBytes img = bench::MakeMixedImage(MiB, placed);
  std::ofstream f(name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
  int files = 0;
  for (auto& [k, n] : placed.Files)
    files += n;
  std::printf("mixed image: %d files placed, %d AVI cut short, %d MPEG without an end code\n",
              files, placed.Damaged, placed.NoEndCode);
  return name;
}

std::string MakeCamera(const std::string& Dir, int Files, uint64_t& MiB) {
  std::string name = Dir + "/camera.img";
  bench::TPlaced placed;
  bench::TBytes img = bench::MakeCameraImage(Files, placed);
  img.resize((img.size() + (1 << 20) - 1) >> 20 << 20, 0); // whole MiB, as the figures count
  MiB = img.size() >> 20;
  std::ofstream f(name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(img.data()), static_cast<std::streamsize>(img.size()));
  std::printf("camera card: %d pictures placed, %.1f MB of them\n", placed.Files["JPG"],
              double(placed.Bytes["JPG"]) / 1e6);
  return name;
}

// The kind of file system the files are saved to, which the saving time follows.
std::string FileSystemName(const std::string& Path) {
  struct statfs fs {};
  if (::statfs(Path.c_str(), &fs) != 0)
    return "an unknown file system";
  switch (static_cast<unsigned long>(fs.f_type)) {
  case 0x01021994:
    return "tmpfs";
  case 0xEF53:
    return "ext4";
  case 0x9123683E:
    return "btrfs";
  case 0x58465342:
    return "xfs";
  default:
    return "a file system of type " + std::to_string(fs.f_type);
  }
}

// The saved files in the order they were found (by their number), names and bytes.
std::string SavedDigest(const std::string& Dest) {
  std::vector<std::pair<long, std::string>> files;
  for (auto& e : std::filesystem::directory_iterator(Dest)) {
    std::string n = e.path().filename().string();
    std::size_t d = n.find_first_of("0123456789");
    files.emplace_back(d == std::string::npos ? -1 : std::atol(n.c_str() + d), n);
  }
  std::sort(files.begin(), files.end());
  bench::TDigest digest;
  for (auto& [number, n] : files) {
    digest.Add(n);
    std::ifstream f(Dest + n, std::ios::binary);
    std::vector<char> buf(1 << 20);
    while (f.read(buf.data(), static_cast<std::streamsize>(buf.size())) || f.gcount() > 0)
      digest.Add(buf.data(), static_cast<std::size_t>(f.gcount()));
  }
  return digest.Hex();
}

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  // --throttle MBps, anywhere: the files go through a writer that takes that long.
  double throttle = 0;
  for (int i = 1; i + 1 < argc; ++i)
    if (std::string(argv[i]) == "--throttle") {
      throttle = std::atof(argv[i + 1]);
      for (int j = i; j + 2 <= argc; ++j)
        argv[j] = argv[j + 2];
      argc -= 2;
      break;
    }
  const bool mixed = argc > 1 && std::string(argv[1]) == "--mixed";
  const bool camera = argc > 1 && std::string(argv[1]) == "--camera";
  const int sizeArg = mixed || camera ? 2 : 1;
  uint64_t mib = argc > sizeArg ? std::strtoull(argv[sizeArg], nullptr, 10) : mixed ? 1024 : 4096;
  const int cameraFiles = argc > sizeArg ? std::atoi(argv[sizeArg]) : 1100;
  test::TTempDir dir;
  setenv("HOME", dir.Path.c_str(), 1);
  setenv("XDG_CONFIG_HOME", (dir.Path + "/.config").c_str(), 1);
  RegisterModules();
  TApplication app(argc, argv);
  std::string image = camera  ? MakeCamera(dir.Path, cameraFiles, mib)
                      : mixed ? MakeMixed(dir.Path, mib)
                              : MakeImage(dir.Path, mib);
  std::string dest = dir.Path + "/out/";
  std::filesystem::create_directories(dest);
  TSimulatedDrives platform;
  TRegistry settings(dir.Path + "/settings.reg");

  // A plain read first, so that both runs find the file in the page cache.
  double plain = 0;
  {
    auto t0 = Clock::now();
    std::ifstream f(image, std::ios::binary);
    std::vector<char> buf(1 << 20);
    while (f.read(buf.data(), static_cast<std::streamsize>(buf.size())) || f.gcount() > 0) {
    }
    plain = Seconds(t0, Clock::now());
  }

  // The controller alone, its messages pumped by the program's event loop as they
  // wake it, without the window.
  auto controllerAlone = [&](bool MeasureStages, int64_t& Progress, TScanStages& Stages) {
    TGlimmerfold c(platform, settings);
    std::string root = c.AddImageFile(image);
    bool done = false;
    c.Scanner().MeasureStages = MeasureStages;
    c.OnProgress = [&](TGlimmerfold&, int64_t, int64_t) { ++Progress; };
    c.OnScanDone = [&](TGlimmerfold&, bool, bool, const std::string&) { done = true; };
    auto t0 = Clock::now();
    c.StartScan(root);
    while (!done)
      QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 50);
    Stages = c.Scanner().Stages();
    return Seconds(t0, Clock::now());
  };
  int64_t headlessProgress = 0, stagedProgress = 0;
  TScanStages stages;
  controllerAlone(false, headlessProgress, stages); // warms the process up as for the window
  headlessProgress = 0;
  const double headless = controllerAlone(false, headlessProgress, stages);
  const double staged = camera ? controllerAlone(true, stagedProgress, stages) : 0;

  // The main window, saving into Dest: the times of the road, how late its event loop
  // ran from the start to the summary and a moment after it (a stall at the end shows
  // only when the loop runs again), and what it saved.
  struct TWindowRun {
    double Window = 0, Saving = 0, DoneToSummary = 0, WorstLate = 0;
    int64_t Progress = 0;
    int Repaints = 0;
    long RssAdded = 0;
    std::string Summary;
  };
  auto windowRun = [&](const std::string& Dest, std::unique_ptr<TFoundFileWriter> Writer) {
    TWindowRun run;
    long rssBefore = PeakRssKb();
    test::TTestDesktop desktop;
    TFormMain form(platform, settings, desktop, {image});
    form.Controller().SetDestPath(Dest);
    if (Writer)
      form.SetFileWriter(std::move(Writer));
    form.show();
    for (int i = 0; i < form.LBDrives->count(); ++i)
      if (form.LBDrives->item(i)->text().toStdString() != "")
        form.LBDrives->setCurrentRow(i);
    form.LBDrivesClick();

    auto originalFound = form.Controller().OnFileFound;
    form.Controller().OnFileFound = [&](TGlimmerfold& s, const std::string& n,
                                        std::unique_ptr<TMemoryStream> st) {
      auto at = Clock::now();
      originalFound(s, n, std::move(st));
      run.Saving += Seconds(at, Clock::now());
    };
    auto originalProgress = form.Controller().OnProgress;
    form.Controller().OnProgress = [&](TGlimmerfold& s, int64_t p, int64_t n) {
      ++run.Progress;
      originalProgress(s, p, n);
    };
    Clock::time_point doneAt{};
    auto originalDone = form.Controller().OnScanDone;
    form.Controller().OnScanDone = [&](TGlimmerfold& s, bool c, bool u, const std::string& m) {
      doneAt = Clock::now();
      originalDone(s, c, u, m);
    };
    Clock::time_point summaryAt{};
    desktop.OnShowText = [&] { summaryAt = Clock::now(); };
    // A 10 ms tick that notes how late the event loop lets it run.
    auto lastTick = Clock::now();
    QTimer tick;
    tick.setInterval(10);
    tick.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick, &QTimer::timeout, [&] {
      auto now = Clock::now();
      run.WorstLate = std::max(run.WorstLate, Seconds(lastTick, now) - 0.010);
      lastTick = now;
    });
    tick.start();
    QTimer sample; // the progress label changes at most this often
    QString lastLabel;
    sample.setInterval(1);
    QObject::connect(&sample, &QTimer::timeout, [&] {
      if (form.LabelCurSector->text() != lastLabel) {
        lastLabel = form.LabelCurSector->text();
        ++run.Repaints;
      }
    });
    sample.start();

    auto t0 = Clock::now();
    form.SBStartClick();
    while (desktop.Texts.empty())
      QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    run.Window = Seconds(t0, summaryAt);
    run.DoneToSummary = Seconds(doneAt, summaryAt);
    for (auto until = Clock::now() + std::chrono::milliseconds(30); Clock::now() < until;)
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    tick.stop();
    sample.stop();
    run.RssAdded = PeakRssKb() - rssBefore;
    run.Summary = desktop.Texts[0].substr(0, desktop.Texts[0].find('\r'));
    return run;
  };
  std::unique_ptr<TFoundFileWriter> writer;
  if (throttle > 0) {
    auto w = std::make_unique<test::TTestWriter>();
    w->BytesPerSecond = throttle * 1e6;
    writer = std::move(w);
  }
  const TWindowRun first = windowRun(dest, std::move(writer));
  const double window = first.Window, saving = first.Saving;
  const int64_t progress = first.Progress;
  const int repaints = first.Repaints;

  double gb = double(mib) / 1024.0;
  std::printf("image: %.2f GiB (%llu sectors)\n", gb, (unsigned long long)((mib << 20) / 512));
  std::printf("plain read:       %.2f s, %.0f MB/s\n", plain, double(mib) * 1.048576 / plain);
  std::printf("controller alone: %.2f s, %.0f MB/s, %lld progress messages (%.0f per s)\n",
              headless, double(mib) * 1.048576 / headless, (long long)headlessProgress,
              headlessProgress / headless);
  std::printf("main window:      %.2f s, %.0f MB/s, %lld progress messages (%.0f per s)\n", window,
              double(mib) * 1.048576 / window, (long long)progress, progress / window);
  std::printf("summary after the done message: %.3f s; summary after the start: %.2f s "
              "(controller alone %.2f s)\n",
              first.DoneToSummary, window, headless);
  std::printf("worst lateness of a 10 ms timer from the start to the summary: %.3f s\n",
              first.WorstLate);
  std::printf("progress label changes seen: %d (%.0f per s)\n", repaints, repaints / window);
  std::printf("peak memory added by the window run: %ld kB\n", first.RssAdded);
  std::printf("summary: %s\n", first.Summary.c_str());
  int saved = 0;
  uintmax_t bytes = 0;
  for (auto& e : std::filesystem::directory_iterator(dest)) {
    ++saved;
    bytes += e.file_size();
  }
  std::printf("saved: %d files, %.1f MB; whole road %.0f MB/s\n", saved, double(bytes) / 1e6,
              double(mib) * 1.048576 / window);
  if (camera) {
    std::printf("stages, %d files: scanning %.3f s, building the found files %.3f s (from a "
                "run of the controller alone that measured them, %.2f s, handing over %.3f s); "
                "saving in the window %.3f s (%.0f us a file)\n",
                saved, stages.Scanning, stages.Building, staged, stages.HandingOver, saving,
                saved > 0 ? saving / saved * 1e6 : 0.0);
  }
  std::printf("window road / controller alone = %.2f; without the saving in the window's "
              "file-found handler (%.3f s to %s%s) = %.2f\n",
              window / headless, saving, FileSystemName(dest).c_str(),
              throttle > 0 ? Format(" through a writer of %d MB/s", int(throttle)).c_str() : "",
              (window - saving) / headless);
  std::printf("peak memory (RSS) of the whole bench: %.1f MB\n", double(PeakRssKb()) * 1024 / 1e6);
  std::printf("saved files' digest: %s\n", SavedDigest(dest).c_str());
  if (camera && throttle <= 0) {
    // A second scan into the same folder, which now holds the first one's files: each
    // found file's name search starts among them.
    const TWindowRun again = windowRun(dest, nullptr);
    std::printf("a second scan into the folder of those %d files: summary after %.2f s, "
                "saving in the window %.3f s (%.0f us a file)\n",
                saved, again.Window, again.Saving, saved > 0 ? again.Saving / saved * 1e6 : 0.0);
  }
  return 0;
}
