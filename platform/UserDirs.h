// The user's home and the desktop's well-known folders (XDG user dirs).
#pragma once

#include <string>

namespace gf {

std::string HomeFolder();

// The folder named by XDG_<Name>_DIR (e.g. "PICTURES") in the user's user-dirs file
// ($XDG_CONFIG_HOME/user-dirs.dirs); empty when the file does not set it or sets it to
// the home folder itself (disabled). Without that file the desktop's own defaults
// apply: ~/Pictures, ~/Documents and the like (empty for a name they do not have).
std::string UserDir(const std::string& Name);

} // namespace gf
