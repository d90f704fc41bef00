#pragma once

// Everything in a directory, to check that a program touched only what it should.

#include <map>
#include <string>

namespace fixtures {

// File name -> content, "<dir>" for a subdirectory (not descended into).
using DirSnapshot = std::map<std::string, std::string>;

DirSnapshot snapshotDir(const std::string& dir);

}  // namespace fixtures
