#pragma once
// The core's texts are UTF-8; the window and the registry take UTF-16.
#include <string>

namespace vanta {

std::wstring Widen(const std::string& text);
std::string Narrow(const std::wstring& text);

}  // namespace vanta
