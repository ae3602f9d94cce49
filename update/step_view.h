#pragma once
// What an update step shows while it runs: the status line, message boxes and the wait cursor.
// Every view of the dialog provides it; the steps need nothing more of a window.
#include <cstdint>
#include <string>

namespace vanta {

// How far a running step is, as numbers beside its status text: a display draws its bar, rate
// and time left from these instead of reading them out of the text. done and total count bytes
// when bytes is true (the transfers), else the step's own units (fuse rows).
class ProgressSink {
 public:
  virtual ~ProgressSink() = default;
  virtual void SetProgress(uint64_t done, uint64_t total, bool bytes) = 0;
};

enum class MessageIcon { None, Exclamation, Question };
// YesNo has Yes as its default button (Enter), YesNoDefaultNo has No; Escape answers No in both.
enum class MessageButtons { Ok, YesNo, YesNoDefaultNo };
inline constexpr bool AsksYesNo(MessageButtons buttons) {
  return buttons != MessageButtons::Ok;
}
enum class MessageAnswer { Ok, Yes, No };

inline constexpr const char* kAppTitle = "vantaLink";  // caption of boxes without their own

class StepView : public ProgressSink {
 public:
  virtual ~StepView() = default;
  // A window shows the percentage in its status text and ignores the numbers.
  void SetProgress(uint64_t, uint64_t, bool) override {}
  // The status line; shown at once, also while a flow blocks.
  virtual void SetStatus(const std::string& text) = 0;
  // caption "" means the application title.
  virtual MessageAnswer ShowMessage(const std::string& text, const std::string& caption,
                                    MessageIcon icon, MessageButtons buttons) = 0;
  // Nested begin/end pairs balance; the cursor shows while the depth is above 0.
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;
};

// Shows an OK box with an exclamation icon and the application title.
void ShowError(StepView& view, const std::string& text);

// Balances one BeginWaitCursor/EndWaitCursor pair on every path out of a scope.
class WaitCursor {
 public:
  explicit WaitCursor(StepView& view) : view_(view) { view_.BeginWaitCursor(); }
  ~WaitCursor() { End(); }
  // Ends the cursor early (before a message box); the destructor then does nothing.
  void End() {
    if (active_) view_.EndWaitCursor();
    active_ = false;
  }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;

 private:
  StepView& view_;
  bool active_ = true;
};

}  // namespace vanta
