#include "platform/system_settings.h"

namespace vanta {

bool ReadSystemSettings(const std::string&, const std::string&, const std::string&,
                        std::map<std::string, std::string>&) {
  return false;
}

}  // namespace vanta
