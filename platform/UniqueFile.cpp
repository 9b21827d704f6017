#include "UniqueFile.h"

#include <cerrno>

namespace gf {

std::unique_ptr<TFileStream> CreateUniqueFile(const std::string& Stem, const std::string& Suffix,
                                              int Tries, std::string& Name) {
  for (int n = 0;; ++n) {
    Name = Stem + std::to_string(n) + Suffix;
    try {
      return std::make_unique<TFileStream>(Name, TFileMode::CreateExclusive);
    } catch (const EFileStreamError& e) {
      if (e.Errno() != EEXIST || n + 1 >= Tries)
        throw;
    }
  }
}

} // namespace gf
