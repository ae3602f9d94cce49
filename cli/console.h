#pragma once
// The terminal side of the command line: one progress line per probe, kept at the bottom of a
// terminal and redrawn in place, or plain lines when standard error is a file or a pipe. All
// probes' threads write through one Console, which serialises them.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

namespace vanta::cli {

// Splits a status text into its words and the "( N% )" a running step appends. Returns false
// (percent -1, base the whole text) when the text carries no percentage.
bool ParseProgress(const std::string& status, std::string& base, int& percent);

// How far a step is, as its flow counted it: done of total, bytes or other units, and the rate
// since the step began (units a second; 0 while unknown).
struct ProgressNumbers {
  uint64_t done = 0, total = 0;
  bool bytes = false;
  double rate = 0;
};

// One progress line as drawn on a terminal of width columns: label, bar, percent, text, and with
// numbers the rate and the time left; never wider than width - 1 so the terminal does not wrap
// it. Without numbers (a step that counts nothing) the bar comes from the text's "( N% )".
std::string RenderProgressLine(const std::string& label, size_t labelWidth,
                               const std::string& status, size_t width,
                               const ProgressNumbers* numbers = nullptr);

enum class Verbosity { Quiet = 0, Normal = 1, Verbose = 2 };

class Console {
 public:
  // live: redraw progress lines in place (a terminal); otherwise print plain lines. Notes that
  // are not errors go to out; progress, errors and traces to standard error.
  Console(bool live, Verbosity verbosity, std::FILE* out = stdout);
  ~Console();
  Console(const Console&) = delete;
  Console& operator=(const Console&) = delete;

  // Adds a progress line for a probe; returns its slot.
  int AddSlot(const std::string& label);
  // A status text of the probe in slot; percentages become a bar (live) or a line every 10%.
  void Status(int slot, const std::string& text);
  // The numbers of the step the probe in slot showed last (its bar, rate and time left).
  void Progress(int slot, uint64_t done, uint64_t total, bool bytes);
  // The probe in slot is done: its progress line is no longer drawn (a watch adds slots for as
  // long as it runs).
  void Retire(int slot);
  // The status text the probe in slot showed last.
  std::string LastStatus(int slot);
  // A line printed above the progress lines (messages, summaries), to out or to stderr.
  void Note(int slot, const std::string& text, bool error);
  // A trace line, always printed (standard error).
  void Trace(const std::string& text);
  // Asks a yes/no question on the terminal; true only for an answer starting with y or Y.
  bool AskYesNo(const std::string& question);
  // Leaves the progress lines on screen and stops redrawing them.
  void Close();

  // Seconds since the console was made, for trace stamps.
  double ElapsedSeconds() const;

 private:
  struct Slot {
    std::string label;
    std::string status;
    std::string lastPrintedBase;
    int lastPrintedDecile = -1;
    bool retired = false;
    std::string base;      // the status text without its percentage
    bool counted = false;  // numbers arrived for this step
    ProgressNumbers numbers;
    std::chrono::steady_clock::time_point stepStart;
    uint64_t stepStartDone = 0;
  };
  void EraseBlockLocked();
  void DrawBlockLocked();
  size_t LabelWidthLocked() const;

  bool live_;
  Verbosity verbosity_;
  std::FILE* out_;
  std::mutex mutex_;
  std::vector<Slot> slots_;
  size_t drawn_ = 0;  // progress lines currently on screen
  bool closed_ = false;
  std::chrono::steady_clock::time_point start_;
};

// A line of the program itself on standard error, "vantalink-cli: text", for what comes before
// (or after) the probes' progress lines.
void ProgramMessage(const std::string& text);

// Width of the terminal on standard error, 80 when unknown.
size_t TerminalWidth();

}  // namespace vanta::cli
