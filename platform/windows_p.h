#pragma once
// What the Windows files of the platform layer share.
#include <windows.h>

#include <string>

namespace vanta::detail {

// The system's words for a Win32 error code (FormatMessage), without the trailing line end;
// "error N" when the system has none.
std::string SystemErrorText(DWORD error);

// The environment variable name, or "" when it is not set.
std::string EnvironmentText(const char* name);

}  // namespace vanta::detail
