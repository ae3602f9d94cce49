#include "cli/console.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iostream>

#include "platform/terminal.h"

namespace vanta::cli {

bool ParseProgress(const std::string& status, std::string& base, int& percent) {
  base = status;
  percent = -1;
  // The flows append " ( %u% )"; find the last '(' that opens such a group.
  size_t open = status.rfind('(');
  while (open != std::string::npos) {
    size_t i = open + 1;
    while (i < status.size() && status[i] == ' ') ++i;
    size_t digitsStart = i;
    while (i < status.size() && std::isdigit(static_cast<unsigned char>(status[i]))) ++i;
    size_t digits = i - digitsStart;
    while (i < status.size() && status[i] == ' ') ++i;
    if (digits > 0 && digits <= 5 && i < status.size() && status[i] == '%') {
      ++i;
      while (i < status.size() && status[i] == ' ') ++i;
      if (i < status.size() && status[i] == ')') {
        percent = std::stoi(status.substr(digitsStart, digits));
        std::string head = status.substr(0, open);
        std::string tail = status.substr(i + 1);
        while (!head.empty() && head.back() == ' ') head.pop_back();
        base = head + tail;
        return true;
      }
    }
    if (open == 0) break;
    open = status.rfind('(', open - 1);
  }
  return false;
}

namespace {

// "12.3 kB/s" or "42 rows/s"
std::string RateText(const ProgressNumbers& numbers) {
  char text[32];
  if (numbers.bytes && numbers.rate >= 1000) {
    std::snprintf(text, sizeof text, "%.1f kB/s", numbers.rate / 1000);
  } else {
    std::snprintf(text, sizeof text, "%.0f %s/s", numbers.rate, numbers.bytes ? "B" : "steps");
  }
  return text;
}

// "0:42 left", "1:02:03 left"
std::string TimeLeftText(const ProgressNumbers& numbers) {
  const uint64_t seconds =
      static_cast<uint64_t>(static_cast<double>(numbers.total - numbers.done) / numbers.rate + 0.5);
  char text[40];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu left",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu left",
                  static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

}  // namespace

std::string RenderProgressLine(const std::string& label, size_t labelWidth,
                               const std::string& status, size_t width,
                               const ProgressNumbers* numbers) {
  std::string base;
  int percent = -1;
  ParseProgress(status, base, percent);
  const bool counted = numbers != nullptr && numbers->total > 0;
  if (counted)
    percent = static_cast<int>(std::min(numbers->done, numbers->total) * 100 / numbers->total);
  std::string line = label;
  if (line.size() < labelWidth) line.append(labelWidth - line.size(), ' ');
  line += "  ";
  if (percent >= 0) {
    constexpr int kBar = 24;
    int shown = std::min(percent, 100);
    int filled = shown * kBar / 100;
    line += "[" + std::string(static_cast<size_t>(filled), '#') +
            std::string(static_cast<size_t>(kBar - filled), '.') + "] ";
    std::string number = std::to_string(percent) + "%";
    if (number.size() < 4) number.insert(0, 4 - number.size(), ' ');
    line += number + "  ";
  }
  line += base;
  if (counted && numbers->rate > 0) {
    line += "  " + RateText(*numbers);
    if (numbers->done < numbers->total) line += ", " + TimeLeftText(*numbers);
  }
  if (width > 1 && line.size() > width - 1) line.resize(width - 1);
  return line;
}

void ProgramMessage(const std::string& text) {
  std::fprintf(stderr, "vantalink-cli: %s\n", text.c_str());
  std::fflush(stderr);
}

size_t TerminalWidth() {
  const size_t columns = TerminalColumns();
  return columns > 10 ? columns : 80;
}

Console::Console(bool live, Verbosity verbosity, std::FILE* out)
    : live_(live), verbosity_(verbosity), out_(out), start_(std::chrono::steady_clock::now()) {}

Console::~Console() {
  Close();
}

double Console::ElapsedSeconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

int Console::AddSlot(const std::string& label) {
  std::lock_guard lock(mutex_);
  Slot added;
  added.label = label;
  slots_.push_back(added);
  if (live_ && !closed_ && verbosity_ != Verbosity::Quiet) {
    EraseBlockLocked();
    DrawBlockLocked();
  }
  return static_cast<int>(slots_.size() - 1);
}

size_t Console::LabelWidthLocked() const {
  size_t width = 0;
  for (const Slot& slot : slots_) {
    if (!slot.retired) width = std::max(width, slot.label.size());
  }
  return width;
}

void Console::EraseBlockLocked() {
  if (drawn_ == 0) return;
  // Back to the first progress line and clear everything below it.
  std::fprintf(stderr, "\x1b[%zuA\r\x1b[J", drawn_);
  drawn_ = 0;
}

void Console::DrawBlockLocked() {
  size_t width = TerminalWidth();
  size_t labelWidth = LabelWidthLocked();
  drawn_ = 0;
  for (const Slot& slot : slots_) {
    if (slot.retired) continue;
    std::fprintf(stderr, "%s\n",
                 RenderProgressLine(slot.label, labelWidth, slot.status, width,
                                    slot.counted ? &slot.numbers : nullptr)
                     .c_str());
    ++drawn_;
  }
  std::fflush(stderr);
}

void Console::Status(int slot, const std::string& text) {
  std::lock_guard lock(mutex_);
  if (slot < 0 || static_cast<size_t>(slot) >= slots_.size()) return;
  Slot& s = slots_[static_cast<size_t>(slot)];
  s.status = text;
  std::string stepBase;
  int stepPercent = -1;
  ParseProgress(text, stepBase, stepPercent);
  if (stepBase != s.base) {
    // Another step: its numbers and its rate start afresh.
    s.base = stepBase;
    s.counted = false;
  }
  if (verbosity_ == Verbosity::Quiet) return;
  if (live_ && !closed_) {
    EraseBlockLocked();
    DrawBlockLocked();
    return;
  }
  std::string base;
  int percent = -1;
  ParseProgress(text, base, percent);
  int decile = percent < 0 ? -1 : percent / 10;
  bool print = verbosity_ == Verbosity::Verbose || base != s.lastPrintedBase ||
               (percent >= 0 && decile != s.lastPrintedDecile);
  if (!print || text.empty()) return;
  s.lastPrintedBase = base;
  s.lastPrintedDecile = decile;
  std::fprintf(stderr, "%s: %s\n", s.label.c_str(), text.c_str());
  std::fflush(stderr);
}

void Console::Progress(int slot, uint64_t done, uint64_t total, bool bytes) {
  std::lock_guard lock(mutex_);
  if (slot < 0 || static_cast<size_t>(slot) >= slots_.size() || total == 0) return;
  Slot& s = slots_[static_cast<size_t>(slot)];
  const auto now = std::chrono::steady_clock::now();
  if (!s.counted || done < s.stepStartDone) {
    s.counted = true;
    s.stepStart = now;
    s.stepStartDone = done;
  }
  s.numbers.done = done;
  s.numbers.total = total;
  s.numbers.bytes = bytes;
  // A rate only once the step has run for a moment, so the first piece does not decide it.
  const double seconds = std::chrono::duration<double>(now - s.stepStart).count();
  s.numbers.rate = seconds >= 1.0 ? static_cast<double>(done - s.stepStartDone) / seconds : 0;
  if (live_ && !closed_ && verbosity_ != Verbosity::Quiet) {
    EraseBlockLocked();
    DrawBlockLocked();
  }
}

void Console::Retire(int slot) {
  std::lock_guard lock(mutex_);
  if (slot < 0 || static_cast<size_t>(slot) >= slots_.size()) return;
  slots_[static_cast<size_t>(slot)].retired = true;
  if (live_ && !closed_ && verbosity_ != Verbosity::Quiet) {
    EraseBlockLocked();
    DrawBlockLocked();
  }
}

std::string Console::LastStatus(int slot) {
  std::lock_guard lock(mutex_);
  if (slot < 0 || static_cast<size_t>(slot) >= slots_.size()) return "";
  return slots_[static_cast<size_t>(slot)].status;
}

void Console::Note(int slot, const std::string& text, bool error) {
  std::lock_guard lock(mutex_);
  std::FILE* stream = error ? stderr : out_;
  if (live_ && !closed_) EraseBlockLocked();
  std::string prefix;
  if (slot >= 0 && static_cast<size_t>(slot) < slots_.size())
    prefix = slots_[static_cast<size_t>(slot)].label + ": ";
  std::fprintf(stream, "%s%s\n", prefix.c_str(), text.c_str());
  std::fflush(stream);
  if (live_ && !closed_ && verbosity_ != Verbosity::Quiet) DrawBlockLocked();
}

void Console::Trace(const std::string& text) {
  std::lock_guard lock(mutex_);
  if (live_ && !closed_) EraseBlockLocked();
  std::fprintf(stderr, "%s\n", text.c_str());
  if (live_ && !closed_ && verbosity_ != Verbosity::Quiet) DrawBlockLocked();
  std::fflush(stderr);
}

bool Console::AskYesNo(const std::string& question) {
  std::lock_guard lock(mutex_);
  if (live_ && !closed_) EraseBlockLocked();
  std::fprintf(stderr, "%s [y/N] ", question.c_str());
  std::fflush(stderr);
  std::string answer;
  bool yes = false;
  if (std::getline(std::cin, answer)) {
    size_t first = answer.find_first_not_of(" \t");
    yes = first != std::string::npos && (answer[first] == 'y' || answer[first] == 'Y');
  } else {
    std::fprintf(stderr, "\n");
  }
  if (live_ && !closed_ && verbosity_ != Verbosity::Quiet && !slots_.empty()) DrawBlockLocked();
  return yes;
}

void Console::Close() {
  std::lock_guard lock(mutex_);
  if (closed_) return;
  closed_ = true;
  drawn_ = 0;  // the lines stay where they are
  std::fflush(stderr);
}

}  // namespace vanta::cli
