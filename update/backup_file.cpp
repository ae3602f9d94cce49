#include "update/backup_file.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "platform/files.h"

namespace vanta {

namespace {

constexpr size_t kLineBuffer = 1024;  // longer than any S-record (at most 515 characters)
constexpr size_t kMaxRecordBytes = (kLineBuffer - 2) / 2;

std::string Hex32(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// One record's fields; data points into the record's own bytes.
struct Record {
  char type = 0;
  uint32_t address = 0;
  const uint8_t* data = nullptr;
  size_t size = 0;
};

// A record without its line end, checked strictly (unlike the firmware reader, which takes what
// the window has always taken): hex digits only, the count matching the line, the checksum right.
// bytes holds the record's decoded bytes, at least kMaxRecordBytes of room.
bool ParseRecord(const std::string& text, uint8_t* bytes, Record& record, std::string& why) {
  if (text.size() < 4 || text[0] != 'S') {
    why = "not an S-record";
    return false;
  }
  record.type = text[1];
  unsigned addressSize = 0;
  switch (record.type) {
    case '0':
    case '1':
    case '5':
    case '9':
      addressSize = 2;
      break;
    case '2':
    case '8':
      addressSize = 3;
      break;
    case '3':
    case '7':
      addressSize = 4;
      break;
    default:
      why = std::string("unknown record type S") + record.type;
      return false;
  }
  if (text.size() % 2 != 0) {
    why = "odd number of hex digits";
    return false;
  }
  const size_t count = (text.size() - 2) / 2;
  if (count > kMaxRecordBytes) {
    why = "the record's count does not match its length";
    return false;
  }
  uint8_t sum = 0;
  for (size_t i = 0; i < count; ++i) {
    const int high = HexValue(text[2 + 2 * i]), low = HexValue(text[3 + 2 * i]);
    if (high < 0 || low < 0) {
      why = "not a hex digit";
      return false;
    }
    bytes[i] = static_cast<uint8_t>(high * 16 + low);
    sum = static_cast<uint8_t>(sum + bytes[i]);
  }
  if (bytes[0] + 1u != count || bytes[0] < addressSize + 1) {
    why = "the record's count does not match its length";
    return false;
  }
  if (sum != 0xFF) {
    why = "checksum mismatch";
    return false;
  }
  record.address = 0;
  for (unsigned i = 0; i < addressSize; ++i) record.address = (record.address << 8) | bytes[1 + i];
  record.data = bytes + 1 + addressSize;
  record.size = count - 2 - addressSize;
  return true;
}

// The reader's own image of the file under way, one a thread, made once: each read marks what its
// file gives and blanks just those spans again when it ends, so a file costs what it holds rather
// than the whole flash, and only a file that passes every check is laid into the caller's image.
class ReadImage {
 public:
  struct Span {
    uint32_t offset;
    uint32_t size;
  };

  ReadImage() : bytes_(kFlashSize, 0xFF), present_(kFlashSize, 0) {}

  // Marks size bytes at offset; false with conflict set at the first one an earlier span gave
  // other bytes.
  bool Mark(uint32_t offset, const uint8_t* data, size_t size, uint32_t& conflict) {
    // Marked before the check, so that the blanking covers what the loop wrote.
    spans_.push_back({offset, static_cast<uint32_t>(size)});
    for (size_t i = 0; i < size; ++i) {
      const size_t at = offset + i;
      // The same bytes twice are harmless; different ones leave no way to tell which is meant.
      if (present_[at] != 0 && bytes_[at] != data[i]) {
        spans_.back().size = static_cast<uint32_t>(i);
        conflict = static_cast<uint32_t>(at);
        return false;
      }
      bytes_[at] = data[i];
      present_[at] = 1;
    }
    return true;
  }

  // The caller's image: the marked bytes over erased flash, nothing else present.
  void CopyTo(FlashContents& contents) const {
    contents.bytes.assign(kFlashSize, 0xFF);
    contents.present.assign(kFlashSize, false);
    for (const Span& span : spans_) {
      std::copy_n(bytes_.begin() + span.offset, span.size, contents.bytes.begin() + span.offset);
      std::fill_n(contents.present.begin() + span.offset, span.size, true);
    }
  }

  // The start addresses of the sectors the spans lie in, ascending.
  void Sectors(std::vector<uint32_t>& sectors) const {
    bool touched[std::size(kFlashSectors)] = {};
    for (const Span& span : spans_) {
      for (size_t i = 0; i < std::size(kFlashSectors); ++i) {
        const uint32_t first = kFlashSectors[i].address - kFlashBase;
        if (span.offset < first + kFlashSectors[i].size && first < span.offset + span.size)
          touched[i] = true;
      }
    }
    sectors.clear();
    for (size_t i = 0; i < std::size(kFlashSectors); ++i) {
      if (touched[i]) sectors.push_back(kFlashSectors[i].address);
    }
  }

  void Blank() {
    for (const Span& span : spans_) {
      std::fill_n(bytes_.begin() + span.offset, span.size, 0xFF);
      std::fill_n(present_.begin() + span.offset, span.size, 0);
    }
    spans_.clear();
  }

 private:
  std::vector<uint8_t> bytes_;
  std::vector<uint8_t> present_;
  std::vector<Span> spans_;
};

// The reading of both entry points. nextLine(line) gives the next piece of a line as
// TextFile::ReadLine cuts it, false at the end or on a read error, which readFailed() then tells.
template <typename NextLine, typename ReadFailed>
bool ReadRecords(NextLine nextLine, ReadFailed readFailed, const std::string& name,
                 FlashContents& contents, BackupFileProblem& problem,
                 std::vector<uint32_t>* sectors) {
  thread_local ReadImage image;
  struct BlankAtEnd {
    ReadImage& image;
    ~BlankAtEnd() { image.Blank(); }
  } blank{image};
  std::string line;
  std::string header;
  int number = 0;
  bool anyData = false;
  int endLine = 0;  // the line of the end record, 0 before it
  uint8_t bytes[kMaxRecordBytes];
  Record record;
  while (nextLine(line)) {
    ++number;
    if (line.back() != '\n' && line.size() == kLineBuffer - 1) {
      problem = {number, "line too long for an S-record"};
      return false;
    }
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    if (line.empty()) continue;
    std::string why;
    if (!ParseRecord(line, bytes, record, why)) {
      problem = {number, why};
      return false;
    }
    if (endLine > 0) {
      problem = {number, "a record after the end record of line " + std::to_string(endLine)};
      return false;
    }
    const char type = record.type;
    if (type == '7' || type == '8' || type == '9') {
      endLine = number;
      continue;
    }
    if (type == '0') {
      header.assign(record.data, record.data + record.size);
      continue;
    }
    if (type != '1' && type != '2' && type != '3') continue;  // count records
    if (record.size == 0) continue;
    const uint32_t address = record.address;
    const uint64_t end = uint64_t{address} + record.size;
    if (address < kFlashBase || end > uint64_t{kFlashBase} + kFlashSize) {
      problem = {number, "address " + Hex32(address) + " lies outside the flash"};
      return false;
    }
    if (address < kLoaderSectorEnd) {
      problem = {number, "address " + Hex32(address) + " lies in the loader's sector"};
      return false;
    }
    uint32_t conflict = 0;
    if (!image.Mark(address - kFlashBase, record.data, record.size, conflict)) {
      problem = {number, "the record gives " + Hex32(kFlashBase + conflict) +
                             " other bytes than an earlier line"};
      return false;
    }
    anyData = true;
  }
  if (readFailed()) {
    problem = {number, "read error"};
    return false;
  }
  if (!anyData) {
    problem = {0, name + " holds no data records"};
    return false;
  }
  if (endLine == 0) {
    // Every backup ends with one: a file without it was cut short, possibly at a record boundary.
    problem = {number, "the file ends without an S7 end record: it is cut short"};
    return false;
  }
  image.CopyTo(contents);
  contents.header = std::move(header);
  if (sectors != nullptr) image.Sectors(*sectors);
  return true;
}

}  // namespace

bool ReadBackupFile(const std::string& path, FlashContents& contents, BackupFileProblem& problem) {
  // Line by line: a file that is no backup at all (a disk image picked by mistake) is refused at
  // its first line without being read whole.
  TextFile file;
  if (!file.Open(path)) {
    problem = {0, "cannot open " + path};
    return false;
  }
  return ReadRecords([&file](std::string& line) { return file.ReadLine(line, kLineBuffer); },
                     [&file] { return file.Failed(); }, path, contents, problem, nullptr);
}

bool ReadBackupText(const uint8_t* data, size_t size, const std::string& name,
                    FlashContents& contents, BackupFileProblem& problem,
                    std::vector<uint32_t>* sectors) {
  size_t position = 0;
  return ReadRecords(
      [&](std::string& line) { return NextTextLine(data, size, position, line, kLineBuffer); },
      [] { return false; }, name, contents, problem, sectors);
}

}  // namespace vanta
