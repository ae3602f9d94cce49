#include "setup/stored_setup.h"

#include <algorithm>
#include <cstdio>

#include "link/loader.h"
#include "platform/files.h"
#include "setup/config_image.h"

namespace vanta {

namespace {

constexpr uint8_t kFill = 0xFF;
constexpr size_t kNameOffset = 24;

uint32_t Quad(const SetupBlock& block, size_t offset) {
  return uint32_t{block[offset]} << 24 | uint32_t{block[offset + 1]} << 16 |
         uint32_t{block[offset + 2]} << 8 | block[offset + 3];
}

// The tags of the files config's "[REGS]" sections name, with their names, in order: the scan
// that built the image, without opening anything.
std::vector<RegisterRecord> NamedFiles(const std::vector<uint8_t>& stored) {
  std::vector<RegisterRecord> files;
  std::vector<uint8_t> config(kConfigLimit, kFill);
  std::copy_n(stored.begin(), std::min(stored.size(), kConfigLimit - 1), config.begin());
  ForEachRegsFile(config.data(), [&](uint32_t number, const std::string& name) {
    RegisterRecord file;
    file.tag = static_cast<uint8_t>((number & 0x3Fu) | 0x80u);
    file.name = name;
    files.push_back(file);
    return int32_t{0};
  });
  return files;
}

bool IsTag(uint8_t byte) {
  return byte >= 0x80 && byte <= 0xBF;
}

// Bytes from address on up to the first 0xFF (the fill behind what was written), at most limit.
ResultCode ReadUpToFill(const MemoryReader& read, uint32_t address, size_t limit,
                        std::vector<uint8_t>& out) {
  out.clear();
  uint8_t chunk[kChunk];
  for (size_t offset = 0; offset < limit; offset += kChunk) {
    const ResultCode rc = read(static_cast<uint32_t>(address + offset), kChunk, chunk);
    if (rc != RESULT_OK) return rc;
    const uint8_t* end = std::find(chunk, chunk + kChunk, kFill);
    out.insert(out.end(), static_cast<const uint8_t*>(chunk), end);
    if (end != chunk + kChunk) break;
  }
  return RESULT_OK;
}

}  // namespace

std::string DottedQuadText(uint32_t address) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF);
  return text;
}

StoredSetup DecodeSetupBlock(const SetupBlock& block) {
  StoredSetup setup;
  if (std::all_of(block.begin(), block.end(), [](uint8_t b) { return b == kFill; })) {
    setup.state = SetupBlockState::Erased;
    return setup;
  }
  setup.state = SetupBlockState::Malformed;
  if (block[0] != 0x0A || block[1] != 0x4F || block[2] != 0x19) {
    setup.problem = "no MAC prefix 0A 4F 19";
    return setup;
  }
  if (block[6] != kFill || block[7] != kFill) {
    setup.problem = "bytes 6 and 7 are not FF FF";
    return setup;
  }
  const auto terminator = std::find(block.begin() + kNameOffset, block.end(), 0x00);
  if (terminator == block.end()) {
    setup.problem = "the configuration file name has no terminating 0x00";
    return setup;
  }
  setup.state = SetupBlockState::Valid;
  char mac[13];
  std::snprintf(mac, sizeof mac, "%02X%02X%02X%02X%02X%02X", block[0], block[1], block[2], block[3],
                block[4], block[5]);
  setup.macText = mac;
  setup.texts.probeIpText = DottedQuadText(Quad(block, 8));
  setup.texts.subnetMaskText = DottedQuadText(Quad(block, 12));
  setup.texts.gatewayText = DottedQuadText(Quad(block, 16));
  setup.texts.configHostText = DottedQuadText(Quad(block, 20));
  setup.texts.configFileText.assign(block.begin() + kNameOffset, terminator);
  setup.standAlone = Quad(block, 20) == 0xFFFFFFFF;
  return setup;
}

std::vector<RegisterRecord> SplitRegisterImage(const std::vector<uint8_t>& config,
                                               const std::vector<uint8_t>& image) {
  const std::vector<RegisterRecord> named = NamedFiles(config);
  std::vector<RegisterRecord> records;
  size_t position = 0;
  while (position < image.size() && IsTag(image[position])) {
    RegisterRecord record;
    const size_t index = records.size();
    if (index < named.size()) record = named[index];
    record.tag = image[position];
    record.offset = static_cast<uint32_t>(position + 1);
    // The next record starts at the tag of the next named file, or at any tag byte when the
    // configuration names no more.
    size_t end = position + 1;
    if (index + 1 < named.size()) {
      while (end < image.size() && image[end] != named[index + 1].tag) ++end;
    } else if (index + 1 >= named.size() && !named.empty()) {
      end = image.size();
    } else {
      while (end < image.size() && !IsTag(image[end])) ++end;
    }
    record.size = static_cast<uint32_t>(end - position - 1);
    records.push_back(record);
    position = end;
  }
  return records;
}

std::string ExtractedName(const std::string& given, bool isConfigFile) {
  std::string name = given;
  if (isConfigFile) {
    const size_t separator = name.find_last_of("/\\");
    if (separator != std::string::npos) name.erase(0, separator + 1);
  } else if (!name.empty() && name[0] == '$') {
    name.erase(0, 1);
  }
  if (name.empty() || name[0] == '/' || name[0] == '\\') return "";
  if (name.size() >= 2 && name[1] == ':') return "";  // a drive: C:\cfg\r.def
  for (const char c : name) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) return "";
  }
  // Every part, split at either separator, must stay inside: no ".." anywhere.
  for (size_t start = 0; start <= name.size();) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string::npos) end = name.size();
    if (name.compare(start, end - start, "..") == 0 && end - start == 2) return "";
    start = end + 1;
  }
  if (name == "." || name.back() == '/' || name.back() == '\\') return "";
  return name;
}

ExtractResult ExtractStoredSetup(const StoredSetup& setup, const std::string& dir) {
  ExtractResult result;
  const auto fail = [&result](const std::string& error) {
    if (result.passed) result.error = error;
    result.passed = false;
  };
  std::string error;
  if (!MakeDirectories(dir, error)) {
    fail(error);
    return result;
  }
  const std::string base = DirectoryPrefix(dir);
  std::vector<std::pair<std::string, std::string>> done;  // name, content
  const auto write = [&](const std::string& given, const std::string& fallback, bool isConfig,
                         const uint8_t* data, size_t size) {
    const std::string name = given.empty() ? fallback : ExtractedName(given, isConfig);
    if (name.empty()) {
      result.refused.push_back(given);
      fail("'" + given + "' would be written outside " + dir + "; left out");
      return;
    }
    const std::string content(data, data + size);
    for (const auto& [path, bytes] : done) {
      if (path != name) continue;
      // A file the configuration names twice was stored twice; only a different copy is news.
      if (bytes != content) fail(base + name + " is stored twice with different contents");
      return;
    }
    const size_t slash = name.find_last_of('/');
    if (slash != std::string::npos && !MakeDirectories(base + name.substr(0, slash), error)) {
      fail(error);
      return;
    }
    if (!ReplaceFileContents(base + name, content, error)) {
      fail(error);
      return;
    }
    done.emplace_back(name, content);
    result.written.push_back(base + name);
  };
  write(setup.texts.configFileText, "configuration.cfg", true, setup.configFile.data(),
        setup.configFile.size());
  for (size_t i = 0; i < setup.records.size(); ++i) {
    const RegisterRecord& record = setup.records[i];
    write(record.name, "register-" + std::to_string(i + 1) + ".def", false,
          setup.registerImage.data() + record.offset, record.size);
  }
  return result;
}

ResultCode ReadStoredSetup(const MemoryReader& read, StoredSetup& setup) {
  SetupBlock block{};
  ResultCode rc = read(SETUP_SECTOR, kSetupBlockSize, block.data());
  if (rc != RESULT_OK) return rc;
  setup = DecodeSetupBlock(block);
  if (!setup.standAlone) return RESULT_OK;
  rc = ReadUpToFill(read, CONFIG_SECTOR, kConfigLimit, setup.configFile);
  if (rc != RESULT_OK) return rc;
  rc = ReadUpToFill(read, REGISTER_IMAGE_AREA, kConfigLimit, setup.registerImage);
  if (rc != RESULT_OK) return rc;
  setup.records = SplitRegisterImage(setup.configFile, setup.registerImage);
  return RESULT_OK;
}

}  // namespace vanta
