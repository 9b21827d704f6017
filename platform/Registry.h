// A typed store of settings keyed like the registry ("SOFTWARE\...\2.0" under the
// current user), kept in one human-readable file. Every write rewrites the file
// atomically (a part file beside it, written through, then renamed), so a crash or a
// full disk never leaves it half-written or empty; the part files of writers that
// were killed are removed at the next write. Lines may end in LF or CRLF.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace gf {

class ERegistryException : public std::runtime_error {
public:
  using std::runtime_error::runtime_error;
};

class TRegistry {
public:
  // FileName: the store; it need not exist yet. Damaged lines are kept as they are,
  // and written back where they are never read as values.
  explicit TRegistry(std::string FileName);
  virtual ~TRegistry() = default;

  // $XDG_CONFIG_HOME (default ~/.config) + "/Glimmerfold/settings.reg".
  static std::string DefaultFileName();

  bool ValueExists(const std::string& Key, const std::string& Name) const;
  // Raise ERegistryException when the value is missing or of another type.
  std::string ReadString(const std::string& Key, const std::string& Name) const;
  int64_t ReadInteger(const std::string& Key, const std::string& Name) const;
  bool ReadBool(const std::string& Key, const std::string& Name) const {
    return ReadInteger(Key, Name) != 0;
  }

  // Each write is committed to the file at once; raises ERegistryException on failure,
  // leaving both the file and the values in memory as they were.
  void WriteString(const std::string& Key, const std::string& Name, const std::string& Value);
  void WriteInteger(const std::string& Key, const std::string& Name, int64_t Value);
  void WriteBool(const std::string& Key, const std::string& Name, bool Value) {
    WriteInteger(Key, Name, Value ? 1 : 0);
  }

  const std::string& FileName() const { return FFileName; }
  // Lines of the file that could not be read, kept and written back unchanged.
  const std::vector<std::string>& DamagedLines() const { return FDamaged; }

protected:
  // Writes the whole text to the open part file; tests override it to fail midway.
  virtual void WriteData(int Fd, const std::string& Text);

private:
  struct TValue {
    bool IsString = false;
    std::string Str;
    int64_t Int = 0;
  };
  using TKey = std::map<std::string, TValue>;

  void Load();
  void Commit(const std::map<std::string, TKey>& Keys);
  const TValue* Find(const std::string& Key, const std::string& Name) const;
  void Write(const std::string& Key, const std::string& Name, const TValue& Value);

  std::string FFileName;
  std::map<std::string, TKey> FKeys; // key path (as given) -> value name -> value
  std::vector<std::string> FDamaged;
};

} // namespace gf
