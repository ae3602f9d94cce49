// read-memory: a hex dump of probe memory, read in adaptive pieces.
#include "cli/commands/command.h"
#include "cli/output.h"
#include "update/bulk_transfer.h"

namespace vanta::cli {
namespace {

constexpr uint32_t kMaxReadCount = 0x100000;  // the whole flash

struct ReadMemoryFacts : CommandFacts {
  std::vector<uint8_t> memory;  // the bytes read, up to the piece that failed
};

class ReadMemory : public CliCommand {
 public:
  void AddOptions(CLI::App& command) override {
    command.add_option("ADDR", addressText_, "first address (decimal or 0x hex)")
        ->required()
        ->check(NumberIn(0, 0xFFFFFFFF, "address from 0 to 0xFFFFFFFF"));
    command.add_option("COUNT", countText_, "number of bytes, 1 to 1048576")
        ->required()
        ->check(NumberIn(1, kMaxReadCount, "count from 1 to 1048576"));
  }

  Failure Check(const CheckContext&) override {
    uint64_t address = 0, count = 0;
    ParseNumber(addressText_, address);
    ParseNumber(countText_, count);
    if (address + count > 0x100000000ull) return UsageFailure("ADDR + COUNT passes 0xFFFFFFFF");
    address_ = static_cast<uint32_t>(address);
    count_ = static_cast<uint32_t>(count);
    return Failure::None();
  }

  void Run(ProbeSession& session) const override {
    ReadMemoryFacts& facts = session.Result().Own<ReadMemoryFacts>();
    facts.memory.assign(count_, 0);
    TransferFailure failure;
    const ResultCode code = ReadFlashAdaptive(
        session.Link(), address_, count_, facts.memory.data(),
        [this, &session](uint32_t done) {
          session.Status("Reading memory ... ( " + std::to_string(uint64_t{done} * 100 / count_) +
                         "% )");
          session.Progress().SetProgress(done, count_, true);
        },
        &failure);
    if (code != RESULT_OK) {
      // What was read before the piece that failed is still shown.
      facts.memory.resize(failure.address - address_);
      session.FailAndShow(FlowOutcome::FailedAt(FlowStage::MemoryRead, code, failure.address),
                          "reading " + Hex32(failure.address) + " failed");
      return;
    }
    session.Status("Reading memory passed!");
  }

  std::string Text(const ProbeResult& r, bool single) const override {
    const ReadMemoryFacts* f = r.Find<ReadMemoryFacts>();
    if (f == nullptr || f->memory.empty()) return "";
    return (single ? "" : "== " + r.label + " ==\n") + FormatHexDump(address_, f->memory);
  }

  void AddJson(const ProbeResult& r, nlohmann::json& j) const override {
    AddBeforeAfter(r, j);
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    if (const ReadMemoryFacts* f = r.Find<ReadMemoryFacts>()) {
      for (uint8_t byte : f->memory) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
      }
      j["address"] = Hex32(address_);
      j["count"] = count_;
    }
    j["data"] = hex;
  }

 private:
  std::string addressText_, countText_;
  uint32_t address_ = 0, count_ = 0;
};

}  // namespace

const HelpPage kReadMemoryPage = {
    "read-memory", "hex dump of probe memory",
    "vantalink-cli read-memory ADDR COUNT [GLOBAL OPTIONS]",
    "Connects and reads COUNT bytes (1 to 1048576) from ADDR in pieces of at most 1024 bytes, "
    "and prints them as a hex dump. On a noisy line the pieces shrink (down to 16 bytes) and a "
    "lost piece is asked for again, up to 8 times before the read fails naming its address. ADDR "
    "and COUNT are decimal or hexadecimal with 0x. --json "
    "gives the bytes as one hex string.",
    "# the setup block\n"
    "vantalink-cli read-memory 0x01008000 104 --port COM1\n"
    "vantalink-cli read-memory 0x01040000 0x100 --port COM1 --json"};

std::unique_ptr<CliCommand> MakeReadMemory() {
  return std::make_unique<ReadMemory>();
}

}  // namespace vanta::cli
