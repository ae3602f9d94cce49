#include "cli/watch.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <list>
#include <memory>
#include <thread>
#include <vector>

#include "cli/commands/command.h"
#include "cli/output.h"
#include "platform/files.h"
#include "platform/ports.h"
#include "platform/serial_devices.h"
#include "platform/stop_signals.h"
#include "platform/terminal.h"

namespace vanta::cli {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kPollMs = 250;
// A device node udev has not finished with (its group not set yet, held by a modem prober for a
// moment) refuses the open; it is tried this many times in all before it counts as failed.
constexpr int kOpenTries = 5;
constexpr auto kRetryDelay = std::chrono::seconds(1);

std::string TimeText(const char* format, bool utc) {
  const std::time_t now = std::time(nullptr);
  std::tm parts{};
  if (utc) {
    UtcTime(now, parts);
  } else {
    LocalTime(now, parts);
  }
  char text[40];
  std::strftime(text, sizeof text, format, &parts);
  return text;
}

// Refused at the open for a reason that may pass; a path that is no terminal will not change.
bool OpenMayPass(const ProbeResult& result) {
  return result.openFault != OpenFault::None && result.openFault != OpenFault::NotATerminal;
}

// A device to serve: new in the directory, or refused its open and waiting to be tried again.
struct Waiting {
  std::string name;
  int tries = 0;  // runs so far
  Clock::time_point notBefore;
  ProbeResult last;  // the latest run's result, when tries > 0
};

struct Running {
  std::string name;
  int tries = 0;  // runs so far, this one included
  ProbeTarget target;
  int slot = -1;
  ProbeResult result;
  std::atomic<bool> done{false};
  std::thread thread;
};

class Watch {
 public:
  Watch(const CliCommand& command, const JobSettings& settings, const WatchOptions& options,
        Console& console, std::FILE* log)
      : command_(command), settings_(settings), options_(options), console_(console), log_(log) {
    place_ = options.place;
    while (place_.size() > 1 && place_.back() == '/') place_.pop_back();
  }

  ExitStatus Run() {
    // Before any probe's thread starts, so that the signals reach only the wait below.
    StopSignals stops;
    present_ = ListDevicesAt(place_);
    std::string text = "watching " + DevicePlaceText(place_) + " for serial devices; Ctrl-C ends";
    if (!present_.empty()) {
      text += " (present now, not served until plugged in again:";
      for (const std::string& name : present_) text += " " + name;
      text += ")";
    }
    console_.Note(-1, text, true);

    int stopRequests = 0;
    for (;;) {
      if (stops.Wait(kPollMs)) {
        ++stopRequests;
        if (stopRequests >= 2) Abandon();
        if (!running_.empty()) {
          console_.Note(-1,
                        "stopping: the " + std::to_string(running_.size()) +
                            " probe(s) being served are finished first; Ctrl-C again abandons "
                            "them half way",
                        true);
        }
      }
      Reap(stopRequests > 0);
      if (stopRequests > 0) {
        if (running_.empty()) break;
        continue;
      }
      Look();
      StartDue();
    }
    // Devices still refusing their open count as failed; new ones were never touched.
    for (const Waiting& waiting : waiting_) {
      if (waiting.tries > 0) Report(waiting.last);
    }
    Summary();
    return worst_;
  }

 private:
  bool Present(const std::string& name) const {
    return std::binary_search(present_.begin(), present_.end(), name);
  }

  bool IsRunning(const std::string& name) const {
    for (const auto& running : running_) {
      if (running->name == name) return true;
    }
    return false;
  }

  // New names are queued; a name that went away takes its queued entry with it.
  void Look() {
    std::vector<std::string> now = ListDevicesAt(place_);
    for (auto it = waiting_.begin(); it != waiting_.end();) {
      if (std::binary_search(now.begin(), now.end(), it->name)) {
        ++it;
        continue;
      }
      if (it->tries > 0) Report(it->last);
      it = waiting_.erase(it);
    }
    for (const std::string& name : present_) {
      if (!std::binary_search(now.begin(), now.end(), name)) {
        console_.Note(-1, DeviceAt(place_, name) + ": unplugged", true);
      }
    }
    for (const std::string& name : now) {
      if (Present(name)) continue;
      bool queued = false;
      for (const Waiting& waiting : waiting_) queued = queued || waiting.name == name;
      // A device plugged in again while its earlier run goes on waits for that run to end.
      if (!queued) waiting_.push_back(Waiting{name, 0, Clock::now(), {}});
    }
    present_ = std::move(now);
  }

  void StartDue() {
    const Clock::time_point now = Clock::now();
    for (auto it = waiting_.begin(); it != waiting_.end();) {
      if (it->notBefore > now || IsRunning(it->name)) {
        ++it;
        continue;
      }
      auto running = std::make_unique<Running>();
      running->name = it->name;
      running->tries = it->tries + 1;
      running->target.label = DeviceAt(place_, it->name);
      running->target.device = ResolvePortDevice(running->target.label);
      running->slot = console_.AddSlot(it->name);
      Running* job = running.get();
      job->thread = std::thread([this, job] {
        job->result = RunProbeJob(command_, settings_, job->target, console_, job->slot);
        job->done = true;
      });
      running_.push_back(std::move(running));
      it = waiting_.erase(it);
    }
  }

  void Reap(bool stopping) {
    for (auto it = running_.begin(); it != running_.end();) {
      Running& job = **it;
      if (!job.done) {
        ++it;
        continue;
      }
      job.thread.join();
      console_.Retire(job.slot);
      if (!stopping && OpenMayPass(job.result) && job.tries < kOpenTries && Present(job.name)) {
        console_.Note(-1,
                      job.target.label + ": could not be opened yet; trying again (" +
                          std::to_string(job.tries + 1) + " of " + std::to_string(kOpenTries) + ")",
                      true);
        waiting_.push_back(
            Waiting{job.name, job.tries, Clock::now() + kRetryDelay, std::move(job.result)});
      } else {
        Report(job.result);
      }
      it = running_.erase(it);
    }
  }

  void Report(const ProbeResult& result) {
    const bool passed = result.status == EXIT_OK;
    ++(passed ? passed_ : failed_);
    worst_ = WorseStatus(worst_, result.status);
    if (!passed) failures_.push_back(result);
    console_.Note(
        -1, TimeText("%Y-%m-%d %H:%M:%S", false) + "  " + FormatProbeLine(result) + "  " + Tally(),
        false);
    nlohmann::json object = ResultJson(command_, result);
    object["time"] = TimeText("%Y-%m-%dT%H:%M:%SZ", true);
    Emit(object);
  }

  // The probe's object on standard output (--json) and in the log, each a line of its own and
  // flushed at once, so that an abrupt end loses no probe already done.
  void Emit(const nlohmann::json& object) {
    const std::string line = JsonText(object) + "\n";
    if (options_.json) {
      std::fputs(line.c_str(), stdout);
      std::fflush(stdout);
    }
    if (log_ == nullptr) return;
    if (std::fputs(line.c_str(), log_) < 0 || std::fflush(log_) != 0) {
      console_.Note(-1, "cannot write the log " + options_.logPath + ": " + std::strerror(errno),
                    true);
    }
  }

  std::string Tally() const {
    return "[passed " + std::to_string(passed_) + ", failed " + std::to_string(failed_) + "]";
  }

  void Summary() {
    std::string text = "watch ended: " + std::to_string(passed_ + failed_) + " served, " +
                       std::to_string(passed_) + " passed, " + std::to_string(failed_) + " failed" +
                       (abandoned_ > 0 ? " (" + std::to_string(abandoned_) + " abandoned)" : "") +
                       "\n";
    if (!failures_.empty()) text += FormatTable(failures_);
    text.pop_back();
    console_.Note(-1, text, false);
  }

  // A second stop request: the probes' threads cannot be interrupted in the middle of a
  // transaction, so the process ends here, after saying which probes were cut off where.
  [[noreturn]] void Abandon() {
    Reap(true);  // those that finished meanwhile are reported as they are
    for (const auto& job : running_) {
      const std::string during = console_.LastStatus(job->slot);
      console_.Note(-1,
                    job->target.label + ": ABANDONED during \"" + during +
                        "\": its run did not finish and what it was writing may be left half "
                        "done; plug it in again to serve it again",
                    true);
      console_.Retire(job->slot);  // its progress line is not drawn again below the summary
      ++failed_;
      ++abandoned_;
      worst_ = WorseStatus(worst_, EXIT_OTHER);
      Emit({{"port", job->target.label},
            {"device", job->target.device},
            {"result", "abandoned"},
            {"exitStatus", static_cast<int>(EXIT_OTHER)},
            {"during", during},
            {"time", TimeText("%Y-%m-%dT%H:%M:%SZ", true)}});
    }
    Summary();
    std::fflush(nullptr);
    std::_Exit(worst_);
  }

  const CliCommand& command_;
  const JobSettings& settings_;
  const WatchOptions& options_;
  Console& console_;
  std::FILE* log_;
  std::string place_;
  std::vector<std::string> present_;  // sorted, as the last look found them
  std::list<Waiting> waiting_;
  std::list<std::unique_ptr<Running>> running_;
  int passed_ = 0, failed_ = 0, abandoned_ = 0;
  ExitStatus worst_ = EXIT_OK;
  std::vector<ProbeResult> failures_;
};

}  // namespace

ExitStatus RunWatch(const CliCommand& command, const JobSettings& settings,
                    const WatchOptions& options, Console& console) {
  std::FILE* log = nullptr;
  if (!options.logPath.empty()) {
    log = std::fopen(options.logPath.c_str(), "a");
    if (log == nullptr) {
      return static_cast<ExitStatus>(Report(
          UsageFailure("cannot open the log " + options.logPath + ": " + std::strerror(errno)),
          options.json));
    }
  }
  const ExitStatus status = Watch(command, settings, options, console, log).Run();
  if (log != nullptr) std::fclose(log);
  return status;
}

}  // namespace vanta::cli
