// Plays WAVE sounds asynchronously through ALSA: Play returns at once and a new sound
// cuts off the one still playing. Where no sound device answers, the player stays
// silent for the rest of its life and says so in one log line.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace gf {

// The samples of a PCM WAVE file: 8- or 16-bit, one or two channels.
struct TWave {
  uint16_t Channels = 0;
  uint16_t BitsPerSample = 0;
  uint32_t Rate = 0;
  std::vector<uint8_t> Data;
};

// Reads a RIFF WAVE file's format and data chunks; nothing when it is not one we can play.
std::optional<TWave> ParseWave(const std::vector<uint8_t>& File);

class TSoundPlayer {
public:
  explicit TSoundPlayer(std::string Device = "default");
  ~TSoundPlayer();
  TSoundPlayer(const TSoundPlayer&) = delete;
  TSoundPlayer& operator=(const TSoundPlayer&) = delete;

  void Play(std::vector<uint8_t> WaveFile);
  // Waits until every sound asked for has been played or dropped (for tests).
  void WaitIdle();
  // Whether the device was found missing (after the first sound).
  bool Silent() const;

private:
  void Run();
  void PlayOne(const std::vector<uint8_t>& File);

  std::string FDevice;
  mutable std::mutex FMutex;
  std::condition_variable FCond;
  std::optional<std::vector<uint8_t>> FNext;
  bool FBusy = false;
  bool FQuit = false;
  bool FSilent = false;
  void* FPcm = nullptr; // snd_pcm_t, opened on the player's thread at the first sound
  std::thread FThread;
};

} // namespace gf
