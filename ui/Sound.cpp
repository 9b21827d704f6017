#include "Sound.h"

#include "ByteOrder.h"
#include "Debug.h"

#include <alsa/asoundlib.h>

#include <cstring>

namespace gf {

namespace {

// ALSA prints its complaints to stderr; the player reports through the log instead.
void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

snd_pcm_t* Pcm(void* p) {
  return static_cast<snd_pcm_t*>(p);
}

} // namespace

std::optional<TWave> ParseWave(const std::vector<uint8_t>& File) {
  const std::size_t size = File.size();
  const uint8_t* d = File.data();
  if (size < 12 || std::memcmp(d, "RIFF", 4) != 0 || std::memcmp(d + 8, "WAVE", 4) != 0)
    return std::nullopt;
  TWave w;
  bool haveFormat = false;
  std::size_t pos = 12;
  while (size - pos >= 8) {
    uint32_t len = Le32(d + pos + 4);
    const uint8_t* body = d + pos + 8;
    std::size_t left = size - pos - 8;
    if (len > left)
      len = static_cast<uint32_t>(left); // a cut-off data chunk plays what there is
    if (std::memcmp(d + pos, "fmt ", 4) == 0 && len >= 16) {
      if (Le16(body) != 1)
        return std::nullopt; // compressed
      w.Channels = Le16(body + 2);
      w.Rate = Le32(body + 4);
      w.BitsPerSample = Le16(body + 14);
      haveFormat = true;
    } else if (std::memcmp(d + pos, "data", 4) == 0 && haveFormat) {
      w.Data.assign(body, body + len);
      break;
    }
    pos += 8 + std::size_t{len} + (len & 1);
    if (pos > size)
      break;
  }
  if (!haveFormat || w.Data.empty() || (w.Channels != 1 && w.Channels != 2) ||
      (w.BitsPerSample != 8 && w.BitsPerSample != 16) || w.Rate < 4000 || w.Rate > 192000)
    return std::nullopt;
  return w;
}

TSoundPlayer::TSoundPlayer(std::string Device) : FDevice(std::move(Device)) {
  snd_lib_error_set_handler(QuietAlsa);
  FThread = std::thread([this] { Run(); });
}

TSoundPlayer::~TSoundPlayer() {
  {
    std::lock_guard lock(FMutex);
    FQuit = true;
  }
  FCond.notify_all();
  FThread.join();
  if (FPcm)
    snd_pcm_close(Pcm(FPcm));
}

void TSoundPlayer::Play(std::vector<uint8_t> WaveFile) {
  {
    std::lock_guard lock(FMutex);
    if (FSilent)
      return;
    FNext = std::move(WaveFile);
  }
  FCond.notify_all();
}

void TSoundPlayer::WaitIdle() {
  std::unique_lock lock(FMutex);
  FCond.wait(lock, [this] { return !FNext && !FBusy; });
}

bool TSoundPlayer::Silent() const {
  std::lock_guard lock(FMutex);
  return FSilent;
}

void TSoundPlayer::Run() {
  for (;;) {
    std::vector<uint8_t> file;
    {
      std::unique_lock lock(FMutex);
      FBusy = false;
      FCond.notify_all();
      FCond.wait(lock, [this] { return FQuit || FNext; });
      if (FQuit)
        return;
      file = std::move(*FNext);
      FNext.reset();
      FBusy = true;
    }
    PlayOne(file);
  }
}

void TSoundPlayer::PlayOne(const std::vector<uint8_t>& File) {
  auto wave = ParseWave(File);
  if (!wave) {
    DebugLog("SOUND: Not a sound that can be played");
    return;
  }
  if (!FPcm) {
    snd_pcm_t* pcm = nullptr;
    // Non-blocking open, so that a device held by another program cannot hang us.
    int err = snd_pcm_open(&pcm, FDevice.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err < 0) {
      {
        std::lock_guard lock(FMutex);
        FSilent = true;
        FNext.reset();
      }
      DebugLog("SOUND: No sound device answers (%s), sounds are off", snd_strerror(err));
      return;
    }
    snd_pcm_nonblock(pcm, 0);
    FPcm = pcm;
  }
  snd_pcm_t* pcm = Pcm(FPcm);
  snd_pcm_drop(pcm);
  int err =
      snd_pcm_set_params(pcm, wave->BitsPerSample == 8 ? SND_PCM_FORMAT_U8 : SND_PCM_FORMAT_S16_LE,
                         SND_PCM_ACCESS_RW_INTERLEAVED, wave->Channels, wave->Rate, 1, 100000);
  if (err < 0) {
    DebugLog("SOUND: Cannot set up the sound device (%s)", snd_strerror(err));
    return;
  }
  const std::size_t frameBytes = std::size_t{wave->Channels} * (wave->BitsPerSample / 8);
  const std::size_t frames = wave->Data.size() / frameBytes;
  std::size_t done = 0;
  while (done < frames) {
    {
      std::lock_guard lock(FMutex);
      if (FNext || FQuit) { // cut off by the next sound
        snd_pcm_drop(pcm);
        return;
      }
    }
    std::size_t chunk = std::min<std::size_t>(frames - done, 1024);
    snd_pcm_sframes_t n = snd_pcm_writei(pcm, wave->Data.data() + done * frameBytes, chunk);
    if (n < 0)
      n = snd_pcm_recover(pcm, static_cast<int>(n), 1);
    if (n < 0) {
      DebugLog("SOUND: Playing failed (%s)", snd_strerror(static_cast<int>(n)));
      return;
    }
    done += static_cast<std::size_t>(n);
  }
  snd_pcm_drain(pcm);
}

} // namespace gf
