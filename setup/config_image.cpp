#include "setup/config_image.h"

#include <algorithm>
#include <cstring>

#include "link/loader.h"
#include "platform/files.h"

namespace vanta {

namespace {

constexpr size_t kMaxLine = 256;
constexpr size_t kMaxToken = 255;
constexpr size_t kMaxPath = 255;
constexpr uint8_t kFill = 0xFF;

// The number that leads text, as the C library's atoi reads it (optional sign, decimal digits),
// in wrapping arithmetic: only its low six bits reach the tag.
uint32_t LeadingNumber(std::string_view text) {
  size_t at = 0;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
    negative = text[at] == '-';
    ++at;
  }
  uint32_t value = 0;
  while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
    value = value * 10u + static_cast<uint32_t>(text[at] - '0');
    ++at;
  }
  return negative ? 0u - value : value;
}

// Where byte first occurs in text[from, to), or to when it does not.
size_t FindByte(const uint8_t* text, size_t from, size_t to, uint8_t byte) {
  if (from >= to) return to;
  const void* at = std::memchr(text + from, byte, to - from);
  return at == nullptr ? to : static_cast<size_t>(static_cast<const uint8_t*>(at) - text);
}

}  // namespace

int32_t LoadConfigFile(const std::string& path, uint8_t* buffer) {
  std::fill_n(buffer, kConfigLimit, kFill);
  const int64_t n = ReadFileBytes(path, buffer, kConfigLimit);
  // A short read must not be stored as if it were the whole file.
  if (n < 0) return SETUP_E_CONFIG_FILE;
  // The scan of the text needs at least one 0xFF behind the file.
  if (n >= static_cast<int64_t>(kConfigLimit)) return SETUP_E_CONFIG_FILE;
  return static_cast<int32_t>(n);
}

size_t ReadConfigLine(const uint8_t* config, size_t size, size_t position, std::string& line) {
  line.clear();
  while (position < size && config[position] <= 0x20) ++position;
  if (position >= size) return position;
  // Bytes 0x80..0xFE (a non-ASCII name, an accent in a comment) belong to the line: ending the
  // line there would scan the rest of a comment as a line of its own. The line is found first
  // and taken whole, rather than a byte at a time.
  const size_t limit = position + std::min(kMaxLine, size - position);
  // The first of 0xFF, CR and LF, each searched for only before the nearest found so far.
  size_t end = limit;
  for (const uint8_t stop : {kFill, uint8_t{'\r'}, uint8_t{'\n'}})
    end = FindByte(config, position, end, stop);
  // The line is a C string to the scanner: a 0x00 inside it ends its text.
  const size_t text = FindByte(config, position, end, 0x00);
  line.assign(reinterpret_cast<const char*>(config + position), text - position);
  for (size_t tab = line.find('\t'); tab != std::string::npos; tab = line.find('\t', tab + 1)) {
    line[tab] = ' ';
  }
  return end;
}

size_t NextToken(std::string_view line, size_t position, std::string_view& token) {
  token = {};
  const size_t size = line.size();
  if (position >= size) return position;
  const auto* text = reinterpret_cast<const uint8_t*>(line.data());
  while (position < size && text[position] == ' ') ++position;
  const bool quoted = position < size && text[position] == '"';
  if (quoted) ++position;
  // A quoted token runs to the closing quote (blanks and ';' included), any other to a blank or
  // a ';'; of a longer one the first kMaxToken characters are kept. The ends are searched for
  // with memchr: a character at a time through the string's own search costs a call per byte.
  const size_t end = quoted ? FindByte(text, position, size, '"')
                            : FindByte(text, position, FindByte(text, position, size, ' '), ';');
  token = line.substr(position, std::min(end - position, kMaxToken));
  return quoted && end < size ? end + 1 : end;  // past the closing quote
}

std::string ConfigRelativePath(const std::string& configPath, const std::string& name) {
  const size_t separator = configPath.find_last_of("/\\");
  std::string path =
      separator == std::string::npos ? std::string() : configPath.substr(0, separator + 1);
  path += name;
  return path;
}

int32_t ForEachRegsFile(const uint8_t* config, const RegsFileVisitor& onFile) {
  bool inRegs = false;
  // Editors on some systems put a UTF-8 byte-order mark in front of the text; it is no part of
  // the first line (the file itself is still stored as it is).
  size_t position = config[0] == 0xEF && config[1] == 0xBB && config[2] == 0xBF ? 3 : 0;
  std::string line;
  // Tokens are views into the line: only a register file's name is copied, for the visitor.
  std::string_view token, keyword, name;
  for (;;) {
    position = ReadConfigLine(config, kConfigLimit, position, line);
    if (!line.empty()) {
      size_t at = NextToken(line, 0, token);
      if (!token.empty() && token[0] == '[') {
        // Exactly as written: "[regs]" or "[REGS ]" do not open the section.
        inRegs = token == "[REGS]";
      } else if (!token.empty() && inRegs) {
        uint32_t number = 0;
        if (line[0] == '#') {
          std::string_view numberToken;
          at = NextToken(line, 1, numberToken);
          number = LeadingNumber(numberToken);
          at = NextToken(line, at, keyword);
        } else {
          keyword = token;
        }
        if (keyword == "FILE") {
          NextToken(line, at, name);
          const int32_t rc = onFile(number, std::string(name));
          if (rc != 0) return rc;
        }
      }
    }
    if (position >= kConfigLimit || config[position] == kFill) return 0;
  }
}

std::string ConfigProblemText(const ConfigProblem& problem) {
  const std::string named =
      "the register file '" + problem.file + "' named in '" + problem.configFile + "'";
  const std::string config = "the configuration file '" + problem.configFile + "'";
  switch (problem.fault) {
    case ConfigFault::None:
      return "";
    case ConfigFault::ConfigMissing:
      return config + " is missing or cannot be opened";
    case ConfigFault::ConfigUnreadable:
      return config + " cannot be read to its end";
    case ConfigFault::ConfigTooLarge:
      return config + " holds 64 KiB or more";
    case ConfigFault::RegisterMissing:
      return named + " is missing or cannot be opened";
    case ConfigFault::RegisterUnreadable:
      return named + " cannot be read to its end (a directory, or a read error)";
    case ConfigFault::RegisterPathTooLong:
      return named + " has a path of more than 255 characters";
    case ConfigFault::RegisterImageFull:
      return "the register image reaches 64 KiB with " + named;
  }
  return "";
}

int32_t BuildRegisterImage(const uint8_t* config, const std::string& configPath, uint8_t* image,
                           const RegisterFileReader& read, ConfigProblem* problem) {
  size_t imageLength = 0;
  const auto refuse = [&](ConfigFault fault, const std::string& path) {
    if (problem != nullptr) *problem = {fault, path, configPath};
    return int32_t{SETUP_E_REG_FILE};
  };
  const int32_t rc = ForEachRegsFile(config, [&](uint32_t number, const std::string& name) {
    const std::string path =
        !name.empty() && name[0] == '$' ? ConfigRelativePath(configPath, name.substr(1)) : name;
    if (path.size() > kMaxPath) return refuse(ConfigFault::RegisterPathTooLong, path);
    // The tag goes in first, as the probe reads it; a failure below drops the whole image.
    image[imageLength] = static_cast<uint8_t>((number & 0x3Fu) | 0x80u);
    const int64_t n = read(path, image + imageLength + 1, kConfigLimit - imageLength - 1);
    if (n == -1) return refuse(ConfigFault::RegisterMissing, path);
    if (n < 0) return refuse(ConfigFault::RegisterUnreadable, path);
    imageLength += 1 + static_cast<size_t>(n);
    if (imageLength >= kConfigLimit) return refuse(ConfigFault::RegisterImageFull, path);
    return int32_t{0};
  });
  return rc != 0 ? rc : static_cast<int32_t>(imageLength);
}

ResultCode LoadConfigImage(const std::string& configPath, ConfigImage& out,
                           ConfigProblem* problem) {
  out.config.assign(kConfigLimit, kFill);
  out.image.assign(kConfigLimit, kFill);
  out.configLength = 0;
  out.imageLength = 0;
  const int32_t configLength = LoadConfigFile(configPath, out.config.data());
  if (configLength < 0) {
    if (problem != nullptr) {
      // LoadConfigFile says no more than its code; the file layer tells the three apart.
      std::vector<uint8_t> probe(kConfigLimit);
      const int64_t n = ReadFileBytes(configPath, probe.data(), probe.size());
      const ConfigFault fault = n == -1 ? ConfigFault::ConfigMissing
                                : n < 0 ? ConfigFault::ConfigUnreadable
                                        : ConfigFault::ConfigTooLarge;
      *problem = {fault, configPath, configPath};
    }
    return configLength;
  }
  const int32_t imageLength =
      BuildRegisterImage(out.config.data(), configPath, out.image.data(), ReadFileBytes, problem);
  if (imageLength < 0) return imageLength;
  out.configLength = configLength;
  out.imageLength = imageLength;
  return RESULT_OK;
}

namespace {

ResultCode WriteChunks(ProbeLink& link, uint32_t base, const std::vector<uint8_t>& buffer,
                       int32_t length, ResultCode refusal) {
  // Whole chunks are sent, so the buffer must reach the end of the last one.
  if (length < 0 || length >= static_cast<int32_t>(kConfigLimit) || buffer.size() < kConfigLimit) {
    return refusal;
  }
  for (size_t offset = 0; offset < static_cast<size_t>(length); offset += kChunk) {
    uint32_t replyValue = 0;
    const ResultCode result =
        ProgramMemory(link, base + static_cast<uint32_t>(offset), static_cast<uint16_t>(kChunk),
                      buffer.data() + offset, replyValue);
    if (result != RESULT_OK) return result;
  }
  return RESULT_OK;
}

}  // namespace

ResultCode WriteConfigImage(ProbeLink& link, const ConfigImage& image) {
  const ResultCode result =
      WriteChunks(link, CONFIG_SECTOR, image.config, image.configLength, SETUP_E_CONFIG_FILE);
  if (result != RESULT_OK) return result;
  return WriteChunks(link, REGISTER_IMAGE_AREA, image.image, image.imageLength, SETUP_E_REG_FILE);
}

}  // namespace vanta
