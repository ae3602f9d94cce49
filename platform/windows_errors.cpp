#include "platform/windows_errors.h"

namespace vanta {
namespace {

// The Win32 codes, by value: this file is built on every system.
constexpr uint32_t kFileNotFound = 2;
constexpr uint32_t kPathNotFound = 3;
constexpr uint32_t kAccessDenied = 5;
constexpr uint32_t kInvalidFunction = 1;
constexpr uint32_t kSharingViolation = 32;
constexpr uint32_t kNotSupported = 50;

}  // namespace

OpenFault OpenFaultOfWin32Error(uint32_t error, bool opened) {
  if (opened) {
    return error == kInvalidFunction || error == kNotSupported ? OpenFault::NotATerminal
                                                               : OpenFault::Other;
  }
  switch (error) {
    case kFileNotFound:
    case kPathNotFound:
      return OpenFault::NoDevice;
    case kAccessDenied:
    case kSharingViolation:
      return OpenFault::Busy;
    default:
      return OpenFault::Other;
  }
}

}  // namespace vanta
