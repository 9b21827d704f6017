#include "UserDirs.h"

#include <cstdlib>
#include <fstream>
#include <map>
#include <pwd.h>
#include <unistd.h>

namespace gf {

std::string HomeFolder() {
  if (const char* h = std::getenv("HOME"); h && *h)
    return h;
  if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
    return pw->pw_dir;
  return "/";
}

std::string UserDir(const std::string& Name) {
  std::string config;
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x == '/')
    config = x;
  else
    config = HomeFolder() + "/.config";
  const std::string home = HomeFolder();
  std::ifstream in(config + "/user-dirs.dirs");
  if (!in) {
    // What the desktop's user-dirs tool writes for a new account.
    static const std::map<std::string, std::string> defaults = {
        {"DESKTOP", "Desktop"},    {"DOWNLOAD", "Downloads"},  {"TEMPLATES", "Templates"},
        {"PUBLICSHARE", "Public"}, {"DOCUMENTS", "Documents"}, {"MUSIC", "Music"},
        {"PICTURES", "Pictures"},  {"VIDEOS", "Videos"}};
    auto it = defaults.find(Name);
    if (it == defaults.end())
      return {};
    return (!home.empty() && home.back() == '/' ? home : home + "/") + it->second;
  }
  const std::string wanted = "XDG_" + Name + "_DIR=";
  std::string line, result;
  while (std::getline(in, line)) {
    std::size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos || line[start] == '#' ||
        line.compare(start, wanted.size(), wanted) != 0)
      continue;
    std::string v = line.substr(start + wanted.size());
    // The desktop writes "$HOME/Folder" or "/absolute/path", in double quotes.
    if (v.size() < 2 || v.front() != '"' || v.back() != '"')
      continue;
    v = v.substr(1, v.size() - 2);
    std::string path;
    for (std::size_t i = 0; i < v.size(); ++i) {
      if (v[i] == '\\' && i + 1 < v.size())
        path += v[++i];
      else
        path += v[i];
    }
    if (path.rfind("$HOME", 0) == 0)
      path = home + path.substr(5);
    else if (path.empty() || path[0] != '/')
      continue;
    while (path.size() > 1 && path.back() == '/')
      path.pop_back();
    std::string h = home;
    while (h.size() > 1 && h.back() == '/')
      h.pop_back();
    result = path == h ? std::string() : path; // a folder set to home is disabled
  }
  return result;
}

} // namespace gf
