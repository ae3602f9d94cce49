// link-check: connect, then time bare identify requests.
#include <algorithm>
#include <chrono>

#include "cli/commands/command.h"

namespace vanta::cli {
namespace {

struct LinkCheckFacts : CommandFacts {
  uint32_t speedAsked = 0, speedReached = 0;
  ModemLines modemLines;
  int answered = 0;
  double best = 0, mean = 0, worst = 0;
};

class LinkCheck : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    command.add_option("-n,--count", transactions_, "transactions to time (default 5)")
        ->check(CLI::Range(1, 10000))
        ->option_text("N");
  }

  // Times bare LDR_IDENTIFY requests over the link the Connect flow opened: a probe that ran its
  // firmware has been brought into its loader by then, or the connect has failed.
  void Run(ProbeSession& session) const override {
    using Clock = std::chrono::steady_clock;
    LinkCheckFacts& facts = session.Result().Own<LinkCheckFacts>();
    const JobSettings& settings = session.Settings();
    ProbeLink& link = session.Link();
    facts.speedAsked = settings.speed != 0 ? settings.speed : SpeedFromIndex(settings.speedIndex);
    facts.speedReached = link.Speed();
    // DTR and RTS as the driver reports them after the open cleared them.
    facts.modemLines = link.PortModemLines();
    double total = 0;
    for (int i = 0; i < transactions_; ++i) {
      const uint8_t request[1] = {LDR_IDENTIFY};
      const Clock::time_point sent = Clock::now();
      const int32_t length = TransactCommand(link, request, 1);
      const double ms = std::chrono::duration<double, std::milli>(Clock::now() - sent).count();
      session.Status("Link check ... ( " + std::to_string((i + 1) * 100 / transactions_) + "% )");
      session.Progress().SetProgress(static_cast<uint64_t>(i + 1),
                                     static_cast<uint64_t>(transactions_), false);
      if (length < 0) continue;
      facts.best = facts.answered == 0 ? ms : std::min(facts.best, ms);
      facts.worst = std::max(facts.worst, ms);
      total += ms;
      ++facts.answered;
    }
    if (facts.answered > 0) facts.mean = total / facts.answered;
    if (facts.answered < transactions_) {
      session.FailAndShow(FlowOutcome::Failed(FlowStage::IdentityRead, SESSION_E_NO_REPLY),
                          std::to_string(transactions_ - facts.answered) + " of " +
                              std::to_string(transactions_) + " transactions got no reply");
    }
  }

  std::string Text(const ProbeResult& r, bool) const override {
    const LinkCheckFacts* f = r.Find<LinkCheckFacts>();
    if (f == nullptr) return "";
    char text[256];
    std::string times = "no round trip";
    if (f->answered > 0) {
      char piece[128];
      std::snprintf(piece, sizeof piece, "round trip min %.2f / avg %.2f / max %.2f ms", f->best,
                    f->mean, f->worst);
      times = piece;
    }
    std::snprintf(
        text, sizeof text, "%s: link at %u bit/s (asked %u); %d of %d transactions answered; %s\n",
        r.label.c_str(), f->speedReached, f->speedAsked, f->answered, transactions_, times.c_str());
    const ModemLines& m = f->modemLines;
    return text + r.label + ": modem lines: " +
           (m.known
                ? std::string("DTR ") + (m.dtr ? "on" : "off") + ", RTS " + (m.rts ? "on" : "off")
                : std::string("not available")) +
           "\n";
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override {
    const LinkCheckFacts* f = r.Find<LinkCheckFacts>();
    if (f == nullptr) return;
    j["speedAsked"] = f->speedAsked;
    j["speedReached"] = f->speedReached;
    if (f->modemLines.known) {
      j["modemLines"] = {{"dtr", f->modemLines.dtr ? "on" : "off"},
                         {"rts", f->modemLines.rts ? "on" : "off"}};
    } else {
      j["modemLines"] = "not available";
    }
    j["transactions"] = transactions_;
    j["answered"] = f->answered;
    if (f->answered > 0) {
      j["roundTripMs"] = {{"min", f->best}, {"avg", f->mean}, {"max", f->worst}};
    }
  }

 private:
  int transactions_ = 5;
};

}  // namespace

const HelpPage kLinkCheckPage = {
    "link-check", "connect and time a few transactions",
    "vantalink-cli link-check [--count N] [GLOBAL OPTIONS]",
    "Connects as the Connect button does (speed search, the change to the speed asked for, "
    "the loader entry, and another attempt while the probe answers from its running "
    "firmware), then sends the identify command --count times and reports the speed reached "
    "and the round-trip times (least, mean, most), and the DTR and RTS lines as the driver "
    "reports them (both off; \"not available\" on a pseudo-terminal). Together with --trace it "
    "shows why a probe does not answer.",
    "vantalink-cli link-check --port COM1 --speed 115200\n"
    "vantalink-cli link-check --port /dev/ttyUSB0 --count 50 --trace"};

std::unique_ptr<CliCommand> MakeLinkCheck() {
  return std::make_unique<LinkCheck>();
}

}  // namespace vanta::cli
