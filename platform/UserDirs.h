// The user's home and the desktop's well-known folders (XDG user dirs).
#pragma once

#include <string>

namespace gf {

std::string HomeFolder();

// The folder named by XDG_<Name>_DIR (e.g. "PICTURES") in the user's user-dirs file
// ($XDG_CONFIG_HOME/user-dirs.dirs); empty when it is not set, disabled (the home
// folder itself) or the file cannot be read.
std::string UserDir(const std::string& Name);

} // namespace gf
