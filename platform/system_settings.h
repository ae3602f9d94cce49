#pragma once
// Settings kept where the system keeps an application's settings itself. On Windows that is the
// registry: the window's settings live under the key
// HKCU\Software\<organisation>\<application>\<section>, numbers as DWORD values and texts as
// strings. Linux has no such store (the window keeps a file there, which its readers parse
// themselves).
#include <map>
#include <string>

namespace vanta {

// The values of one section, each as text (a DWORD as its decimal number, signed as the 32-bit
// value it holds). false when the system has no such store or the section is not there.
bool ReadSystemSettings(const std::string& organisation, const std::string& application,
                        const std::string& section, std::map<std::string, std::string>& values);

}  // namespace vanta
