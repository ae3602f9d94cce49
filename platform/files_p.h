#pragma once
// What the per-system file listings share.
#include <cstdio>
#include <string>

namespace vanta::detail {

// True when name matches pattern, in which '?' stands for exactly one character (never for none,
// as the Windows listing allows at the end of a name). ignoreCase for the letters A to Z, as
// Windows compares file names.
bool MatchesPattern(const std::string& name, const std::string& pattern, bool ignoreCase);

// fopen(path, "rb"). On Windows a path that is valid UTF-8 (a name from a configuration file)
// is opened by its UTF-16 form, any other in the system's code page (a command line argument).
std::FILE* OpenForReading(const std::string& path);

}  // namespace vanta::detail
