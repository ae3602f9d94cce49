#pragma once
// Images, a silent view and the wire-time bound shared by the update benchmarks. The benchmarks
// link only the core, so they write their own images: S3 records and a JEDEC fuse map.
#include <stdlib.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "dialog/dialog_view.h"
#include "sim/virtual_probe.h"

namespace vanta::bench {

// A directory under the system's temporary directory, removed at the end.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vanta-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern + "/";
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

inline std::string SRecord3(uint32_t address, const uint8_t* data, size_t count) {
  char text[16];
  std::string line = "S3";
  unsigned sum = static_cast<unsigned>(count + 5);
  std::snprintf(text, sizeof text, "%02X%08X", sum, address);
  line += text;
  sum += (address >> 24) + ((address >> 16) & 0xFF) + ((address >> 8) & 0xFF) + (address & 0xFF);
  for (size_t i = 0; i < count; ++i) {
    std::snprintf(text, sizeof text, "%02X", data[i]);
    line += text;
    sum += data[i];
  }
  std::snprintf(text, sizeof text, "%02X\n", ~sum & 0xFF);
  return line + text;
}

// VT7PP4FW.nnn of size bytes at 0x01040000 in records of recordLength: the marker word erased,
// then 0x16 and the version, then a byte pattern. Returns the number of records.
inline size_t WriteFirmware(const std::string& dir, uint8_t version, uint32_t size,
                            uint32_t recordLength) {
  std::string image(size, '\0');
  uint32_t state = 0x2545F491u;
  for (char& c : image) {
    state = state * 1664525u + 1013904223u;
    c = static_cast<char>(state >> 24);
  }
  for (int i = 0; i < 4; ++i) image[i] = static_cast<char>(0xFF);
  image[4] = 0x16;
  image[5] = static_cast<char>(version);
  std::string text = "S00600004844521B\n";
  size_t records = 0;
  for (uint32_t at = 0; at < size; at += recordLength, ++records) {
    const uint32_t n = std::min(recordLength, size - at);
    text += SRecord3(0x01040000 + at, reinterpret_cast<const uint8_t*>(image.data() + at), n);
  }
  text += "S70501040000F5\n";
  char name[32];
  std::snprintf(name, sizeof name, "VT7PP4FW.%03u", version);
  std::ofstream(dir + name, std::ios::binary) << text;
  return records;
}

// PP4JEDK0.nnn: 134 rows of 240 fuses in lines of 60 after "*L00000".
inline void WriteJedec(const std::string& dir, uint16_t version) {
  std::string text = "QF32160*\nF0*\n*L00000\n";
  uint32_t state = 12345;
  for (int line = 0; line < 134 * 4; ++line) {
    for (int i = 0; i < 60; ++i) {
      state = state * 1103515245u + 12345u;
      text += ((state >> 16) & 1) ? '1' : '0';
    }
    text += line == 134 * 4 - 1 ? "*\n" : "\n";
  }
  text += "C0000*\n";
  char name[32];
  std::snprintf(name, sizeof name, "PP4JEDK0.%03u", version);
  std::ofstream(dir + name, std::ios::binary) << text;
}

// A view that shows nothing; the flows' outcomes say how a run went.
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
    return MessageAnswer::Yes;
  }
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
};

// The least time the exchange can take: every byte that crossed the line at 10 bits a byte, one
// direction after the other (the loader answers only when the request is in), plus the time the
// probe spent on its operations.
inline double WireBoundSeconds(const sim::Counters& counters, uint32_t speed) {
  return static_cast<double>(counters.bytesIn + counters.bytesOut) * 10.0 / speed +
         static_cast<double>(counters.busyMicros) / 1e6;
}

inline double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace vanta::bench
