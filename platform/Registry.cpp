#include "Registry.h"

#include "PartFile.h"
#include "Streams.h"
#include "UserDirs.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace gf {

namespace {

const char* const RootName = "HKEY_CURRENT_USER";

std::string Escape(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == '\\')
      out += "\\\\";
    else if (c == '\n')
      out += "\\n";
    else if (c == '\r')
      out += "\\r";
    else
      out += c;
  }
  return out;
}

bool Unescape(const std::string& s, std::string& out) {
  out.clear();
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '\\') {
      out += s[i];
      continue;
    }
    if (++i >= s.size())
      return false;
    switch (s[i]) {
    case '\\':
      out += '\\';
      break;
    case 'n':
      out += '\n';
      break;
    case 'r':
      out += '\r';
      break;
    default:
      return false;
    }
  }
  return true;
}

[[noreturn]] void Fail(const std::string& what, const std::string& file, int Errno) {
  throw ERegistryException(what + " \"" + file + "\": " + std::strerror(Errno));
}

} // namespace

TRegistry::TRegistry(std::string FileName) : FFileName(std::move(FileName)) {
  Load();
}

std::string TRegistry::DefaultFileName() {
  std::string base;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/')
    base = x;
  else
    base = HomeFolder() + "/.config";
  return base + "/Glimmerfold/settings.reg";
}

void TRegistry::Load() {
  std::ifstream in(FFileName);
  if (!in)
    return; // no store yet
  std::string line, key;
  bool inKey = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') // written on Windows, or by its editors
      line.pop_back();
    if (line.empty() || line[0] == ';')
      continue;
    if (line.front() == '[' && line.back() == ']') {
      std::string path = line.substr(1, line.size() - 2);
      std::string prefix = std::string(RootName) + "\\";
      inKey = path.rfind(prefix, 0) == 0;
      if (inKey) {
        key = path.substr(prefix.size());
        FKeys[key];
      } else {
        FDamaged.push_back(line);
      }
      continue;
    }
    std::size_t eq = line.find('=');
    std::size_t colon = eq == std::string::npos ? eq : line.find(':', eq);
    TValue v;
    bool ok = inKey && eq != std::string::npos && eq > 0 && colon != std::string::npos;
    if (ok) {
      std::string type = line.substr(eq + 1, colon - eq - 1);
      std::string data = line.substr(colon + 1);
      if (type == "sz") {
        v.IsString = true;
        ok = Unescape(data, v.Str);
      } else if (type == "int") {
        char* end = nullptr;
        errno = 0;
        long long n = std::strtoll(data.c_str(), &end, 10);
        ok = !data.empty() && end && *end == '\0' && errno == 0;
        v.Int = n;
      } else {
        ok = false;
      }
    }
    if (ok)
      FKeys[key][line.substr(0, eq)] = v;
    else
      FDamaged.push_back(line);
  }
}

const TRegistry::TValue* TRegistry::Find(const std::string& Key, const std::string& Name) const {
  auto k = FKeys.find(Key);
  if (k == FKeys.end())
    return nullptr;
  auto v = k->second.find(Name);
  return v == k->second.end() ? nullptr : &v->second;
}

bool TRegistry::ValueExists(const std::string& Key, const std::string& Name) const {
  return Find(Key, Name) != nullptr;
}

std::string TRegistry::ReadString(const std::string& Key, const std::string& Name) const {
  const TValue* v = Find(Key, Name);
  if (!v || !v->IsString)
    throw ERegistryException("Invalid data type for '" + Name + "'");
  return v->Str;
}

int64_t TRegistry::ReadInteger(const std::string& Key, const std::string& Name) const {
  const TValue* v = Find(Key, Name);
  if (!v || v->IsString)
    throw ERegistryException("Invalid data type for '" + Name + "'");
  return v->Int;
}

void TRegistry::WriteString(const std::string& Key, const std::string& Name,
                            const std::string& Value) {
  TValue v;
  v.IsString = true;
  v.Str = Value;
  Write(Key, Name, v);
}

void TRegistry::WriteInteger(const std::string& Key, const std::string& Name, int64_t Value) {
  TValue v;
  v.Int = Value;
  Write(Key, Name, v);
}

void TRegistry::Write(const std::string& Key, const std::string& Name, const TValue& Value) {
  // A name that would begin a comment or a key line could not be read back.
  if (Name.empty() || Name.front() == ';' || Name.front() == '[' ||
      Name.find_first_of("=\n\r") != std::string::npos ||
      Key.find_first_of("[]\n\r") != std::string::npos)
    throw ERegistryException("Invalid value name '" + Name + "'");
  auto keys = FKeys;
  keys[Key][Name] = Value;
  Commit(keys);
  FKeys = std::move(keys);
}

void TRegistry::WriteData(int Fd, const std::string& Text) {
  if (const int e = WriteAll(Fd, Text.data(), Text.size()))
    throw ERegistryException(std::string("Cannot write settings: ") + std::strerror(e));
}

void TRegistry::Commit(const std::map<std::string, TKey>& Keys) {
  std::string text = "; Glimmerfold settings. Types: sz (string), int (integer).\n";
  // Before the first key nothing is read as a value: damaged lines kept there can
  // never override what is saved below them.
  if (!FDamaged.empty())
    text += "; Lines that could not be read, kept as they were:\n";
  for (auto& d : FDamaged)
    text += d + "\n";
  for (auto& [key, values] : Keys) {
    text += "[" + std::string(RootName) + "\\" + key + "]\n";
    for (auto& [name, v] : values)
      text +=
          name + "=" + (v.IsString ? "sz:" + Escape(v.Str) : "int:" + std::to_string(v.Int)) + "\n";
  }

  std::filesystem::path file(FFileName);
  std::error_code ec;
  if (file.has_parent_path())
    std::filesystem::create_directories(file.parent_path(), ec);
  const std::string folder = file.parent_path().string();
  RemoveLeftoverPartFiles(folder);
  std::unique_ptr<TPartFile> part;
  try {
    part = std::make_unique<TPartFile>(folder, TWriteOut::Durable);
  } catch (const EFileStreamError& e) {
    Fail("Cannot create settings file", FFileName, e.Errno());
  }
  // The settings are the user's alone.
  if (::fchmod(part->Handle(), 0600) != 0)
    Fail("Cannot create settings file", FFileName, errno);
  WriteData(part->Handle(), text);
  try {
    part->Finish();
  } catch (const EFileStreamError& e) {
    Fail("Cannot write settings file", FFileName, e.Errno());
  }
  if (const int e = part->Replace(FFileName))
    Fail("Cannot replace settings file", FFileName, e);
}

} // namespace gf
