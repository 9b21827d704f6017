// A FAT card image built with the file-system tools (mkfs.vfat, mcopy, mdel; no
// mounting), with files put on it and some deleted, and the sector each file's
// data starts at, read back from the directory.
#pragma once

#include "ByteOrder.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace gf::test {

inline bool HaveTool(const char* Name) {
  std::string cmd = std::string("command -v ") + Name + " >/dev/null 2>&1";
  return std::system(cmd.c_str()) == 0;
}

// Empty when the card tools are there, else a message for GTEST_SKIP.
inline std::string MissingCardTools() {
  for (const char* tool : {"mkfs.vfat", "mcopy", "mdel"})
    if (!HaveTool(tool))
      return std::string(tool) + " is missing: install dosfstools and mtools to run this test";
  return {};
}

inline bool Shell(const std::string& Cmd) {
  return std::system((Cmd + " >/dev/null 2>&1").c_str()) == 0;
}

inline std::vector<uint8_t> ReadAll(const std::filesystem::path& P) {
  std::ifstream in(P, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline void WriteAll(const std::filesystem::path& P, const std::vector<uint8_t>& B) {
  std::ofstream(P, std::ios::binary)
      .write(reinterpret_cast<const char*>(B.data()), static_cast<std::streamsize>(B.size()));
}

// A small JFIF-like file: SOI, an APP0/APP1 header, a body without 0xFF that is
// unique to Index, and EOI.
inline std::vector<uint8_t> Jpeg(int Index, std::size_t Size) {
  std::vector<uint8_t> b = {0xFF, 0xD8, 0xFF, static_cast<uint8_t>(Index % 2 ? 0xE1 : 0xE0),
                            0x00, 0x10, 'J',  'F',
                            'I',  'F',  0x00, 0x01,
                            0x01, 0x00, 0x00, 0x01,
                            0x00, 0x01, 0x00, 0x00};
  uint32_t x = 0x9E3779B9u * static_cast<uint32_t>(Index + 1);
  while (b.size() + 2 < Size) {
    x = x * 1664525u + 1013904223u;
    b.push_back(static_cast<uint8_t>((x >> 24) % 0xFF)); // never 0xFF
  }
  b.push_back(0xFF);
  b.push_back(0xD9);
  return b;
}

// The layout of a FAT12/16 volume and where each root-directory file starts.
struct TFatLayout {
  uint32_t BytesPerSector = 0, SectorsPerCluster = 0, DataStart = 0, Clusters = 0, Sectors = 0;
  std::map<std::string, uint32_t> StartSector; // "IMG00001JPG" -> sector

  explicit TFatLayout(const std::vector<uint8_t>& Img) {
    BytesPerSector = Le16(Img.data() + 11);
    SectorsPerCluster = Img[13];
    uint32_t reserved = Le16(Img.data() + 14), fats = Img[16], rootEntries = Le16(Img.data() + 17);
    Sectors = Le16(Img.data() + 19) ? Le16(Img.data() + 19) : Le32(Img.data() + 32);
    uint32_t fatSectors = Le16(Img.data() + 22);
    uint32_t rootStart = reserved + fats * fatSectors;
    DataStart = rootStart + (rootEntries * 32 + BytesPerSector - 1) / BytesPerSector;
    Clusters = (Sectors - DataStart) / SectorsPerCluster;
    for (uint32_t e = 0; e < rootEntries; ++e) {
      std::size_t off = std::size_t{rootStart} * BytesPerSector + e * 32;
      uint8_t attr = Img[off + 11];
      if (Img[off] == 0 || Img[off] == 0xE5 || attr == 0x0F || (attr & 0x08))
        continue;
      std::string name(reinterpret_cast<const char*>(&Img[off]), 11);
      StartSector[name] = DataStart + (Le16(Img.data() + off + 26) - 2u) * SectorsPerCluster;
    }
  }
};

// A card image in a temporary folder, removed with the object.
class TFatCard {
public:
  struct TFile {
    std::string Name;  // "IMG00001.JPG"
    std::string Entry; // "IMG00001JPG", as the directory spells it
    std::vector<uint8_t> Bytes;
    uint32_t Sector = 0; // where its data starts, known after Layout()
    bool Deleted = false;
  };

  // Builds an empty card of Kib kibibytes labelled Label; Ok() says whether it worked.
  explicit TFatCard(uint32_t Kib = 4096, const std::string& Label = "CARD") {
    char tmpl[] = "/tmp/gf-card-XXXXXX";
    if (!mkdtemp(tmpl))
      return;
    FDir = tmpl;
    FImage = FDir / "card.img";
    FOk = Shell("mkfs.vfat -C -n " + Label + " " + FImage.string() + " " + std::to_string(Kib));
  }
  ~TFatCard() {
    std::error_code ec;
    if (!FDir.empty())
      std::filesystem::remove_all(FDir, ec);
  }
  TFatCard(const TFatCard&) = delete;
  TFatCard& operator=(const TFatCard&) = delete;

  bool Ok() const { return FOk; }
  const std::filesystem::path& Dir() const { return FDir; }
  const std::filesystem::path& Image() const { return FImage; }
  std::vector<TFile>& Files() { return FFiles; }

  // Copies a file onto the card under Name (8.3, upper case).
  bool Put(const std::string& Name, std::vector<uint8_t> Bytes) {
    WriteAll(FDir / Name, Bytes);
    if (!Shell("mcopy -i " + FImage.string() + " " + (FDir / Name).string() + " ::/" + Name))
      return FOk = false;
    std::size_t dot = Name.find('.');
    std::string base = Name.substr(0, dot),
                ext = dot == std::string::npos ? "" : Name.substr(dot + 1);
    base.resize(8, ' ');
    ext.resize(3, ' ');
    FFiles.push_back({Name, base + ext, std::move(Bytes), 0, false});
    return true;
  }

  // Reads every file's start sector from the directory; call before deleting.
  TFatLayout Layout() {
    TFatLayout layout(ReadAll(FImage));
    for (auto& f : FFiles)
      if (layout.StartSector.count(f.Entry))
        f.Sector = layout.StartSector[f.Entry];
    return layout;
  }

  // Deletes a file from the directory; its data stays on the card until overwritten.
  bool Delete(const std::string& Name) {
    for (auto& f : FFiles)
      if (f.Name == Name)
        f.Deleted = true;
    return Shell("mdel -i " + FImage.string() + " ::/" + Name);
  }

  std::vector<uint8_t> Bytes() const { return ReadAll(FImage); }

private:
  std::filesystem::path FDir, FImage;
  std::vector<TFile> FFiles;
  bool FOk = false;
};

} // namespace gf::test
