// A new file of a name that no one else uses, for bytes that are not whole yet.
#pragma once

#include "Streams.h"

#include <memory>
#include <string>

namespace gf {

// Creates Stem + n + Suffix for the first n from 0 whose name is free, with an exclusive
// create, so that no one else has the file open; Name receives the name. A name taken
// (by a leftover of a killed run, or by another process) moves on to the next; after
// Tries names, or on any other failure, the stream's error is raised.
std::unique_ptr<TFileStream> CreateUniqueFile(const std::string& Stem, const std::string& Suffix,
                                              int Tries, std::string& Name);

} // namespace gf
