// Sample files from Debian packages, unpacked at test time into the build tree by
// fetch_samples.sh (GF_IMAGING_SAMPLES); tests that need them skip when they could
// not be had.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

inline std::string SampleRoot() {
  return std::string(GF_IMAGING_SAMPLES) + "/root";
}

inline bool SamplesAvailable() {
  return std::filesystem::exists(SampleRoot()) &&
         !std::filesystem::exists(std::string(GF_IMAGING_SAMPLES) + "/UNAVAILABLE");
}

inline std::string SamplesUnavailableReason() {
  std::ifstream in(std::string(GF_IMAGING_SAMPLES) + "/UNAVAILABLE");
  std::string line;
  std::getline(in, line);
  return line.empty() ? "samples not fetched" : line;
}
