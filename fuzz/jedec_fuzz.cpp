// A logic image file through the JEDEC reader, with a view that shows nothing.
#include <string>

#include "fuzz/fuzz_support.h"
#include "update/jedec.h"

using namespace vanta;

namespace {

class SilentView : public DialogView {
 public:
  void SetStatus(const std::string&) override {}
  void SetVersionLabel(VersionLabel, const std::string&) override {}
  void EnableButton(FlowButton, bool) override {}
  ControlValues ReadControls() override { return {}; }
  void WriteControls(const ControlValues&) override {}
  void FocusField(EditField) override {}
  MessageAnswer ShowMessage(const std::string&, const std::string&, MessageIcon,
                            MessageButtons) override {
    ++messages;
    return MessageAnswer::Ok;
  }
  void BeginWaitCursor() override { ++depth; }
  void EndWaitCursor() override { --depth; }
  int messages = 0;
  int depth = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string path = fuzz::WriteScratchFile("PP4JEDK0.001", data, size);
  SilentView view;
  FuseMap map;
  const int result = ReadJedecFile(view, path, map);
  FUZZ_CHECK(result == 0 || result == 1);
  FUZZ_CHECK(map.size() == static_cast<size_t>(kFuseRows));
  FUZZ_CHECK(view.depth == 0);
  // Success and a message box exclude each other.
  FUZZ_CHECK((result == 1) == (view.messages == 0));
  if (result == 1) {
    for (const std::string& row : map) {
      FUZZ_CHECK(row.size() == static_cast<size_t>(kFusesPerRow));
      FUZZ_CHECK(row.find_first_not_of("01") == std::string::npos);
    }
  }
  return 0;
}
