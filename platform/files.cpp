#include "platform/files.h"

#include <algorithm>
#include <cstring>

#include "platform/files_p.h"

namespace vanta {

bool detail::MatchesPattern(const std::string& name, const std::string& pattern, bool ignoreCase) {
  if (name.size() != pattern.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (pattern[i] == '?') continue;
    char a = name[i], b = pattern[i];
    if (ignoreCase) {
      if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
      if (b >= 'a' && b <= 'z') b = static_cast<char>(b - 'a' + 'A');
    }
    if (a != b) return false;
  }
  return true;
}

std::string DirectoryPrefix(const std::string& dir) {
  if (dir.empty() || IsPathSeparator(dir.back())) return dir;
  return dir + PathSeparator();
}

std::string ProgramDirectory() {
  const std::string path = ProgramPath();
  for (size_t end = path.size(); end > 0; --end) {
    if (IsPathSeparator(path[end - 1])) return path.substr(0, end);
  }
  return "./";
}

TextFile::~TextFile() {
  Close();
}

bool TextFile::Open(const std::string& path) {
  Close();
  if (path.empty()) return false;
  file_ = detail::OpenForReading(path);
  if (file_ == nullptr) return false;
  if (std::fseek(file_, 0, SEEK_END) == 0) {
    const long end = std::ftell(file_);
    length_ = end > 0 ? static_cast<uint64_t>(end) : 0;
  }
  std::rewind(file_);
  position_ = 0;
  pending_ = EOF;
  failed_ = false;
  return true;
}

void TextFile::Close() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
  pending_ = EOF;
}

int TextFile::NextByte() {
  if (pending_ != EOF) {
    const int byte = pending_;
    pending_ = EOF;
    ++position_;
    return byte;
  }
  const int byte = std::fgetc(file_);
  if (byte == EOF) {
    if (std::ferror(file_)) failed_ = true;
    return EOF;
  }
  ++position_;
  return byte;
}

void TextFile::PushBack(int byte) {
  pending_ = byte;
  --position_;
}

bool TextFile::ReadLine(std::string& line, size_t bufferSize) {
  line.clear();
  if (file_ == nullptr || bufferSize < 2) return false;
  while (line.size() < bufferSize - 1) {
    int byte = NextByte();
    if (byte == EOF) break;
    if (byte == '\r') {
      const int next = NextByte();
      if (next == '\n') {
        byte = '\n';  // text mode: CR LF is one line end
      } else if (next != EOF) {
        PushBack(next);
      }
    }
    line.push_back(static_cast<char>(byte));
    if (byte == '\n') break;
  }
  return !line.empty() && !failed_;
}

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
  bytes.clear();
  if (path.empty()) return false;
  std::FILE* file = detail::OpenForReading(path);
  if (file == nullptr) return false;
  uint8_t piece[65536];
  size_t n = 0;
  while ((n = std::fread(piece, 1, sizeof piece, file)) > 0)
    bytes.insert(bytes.end(), piece, piece + n);
  const bool error = std::ferror(file) != 0;
  std::fclose(file);
  return !error;
}

bool NextTextLine(const uint8_t* data, size_t size, size_t& position, std::string& line,
                  size_t bufferSize) {
  line.clear();
  if (bufferSize < 2) return false;
  const size_t limit = bufferSize - 1;
  // A run at a time up to the next CR or LF: parsers call this for every line of files of tens
  // of kilobytes.
  while (line.size() < limit && position < size) {
    const uint8_t* start = data + position;
    const size_t span = std::min(limit - line.size(), size - position);
    const auto* lf = static_cast<const uint8_t*>(std::memchr(start, '\n', span));
    const size_t before = lf != nullptr ? static_cast<size_t>(lf - start) : span;
    const auto* cr = static_cast<const uint8_t*>(std::memchr(start, '\r', before));
    if (cr != nullptr) {
      line.append(reinterpret_cast<const char*>(start), static_cast<size_t>(cr - start));
      position += static_cast<size_t>(cr - start) + 1;
      if (position < size && data[position] == '\n') {
        ++position;  // text mode: CR LF is one line end
        line.push_back('\n');
        return true;
      }
      line.push_back('\r');
      continue;
    }
    if (lf != nullptr) {
      line.append(reinterpret_cast<const char*>(start), before + 1);
      position += before + 1;
      return true;
    }
    line.append(reinterpret_cast<const char*>(start), span);
    position += span;
  }
  return !line.empty();
}

int64_t ReadFileBytes(const std::string& path, uint8_t* dest, size_t capacity) {
  if (path.empty()) return -1;
  std::FILE* file = detail::OpenForReading(path);
  if (file == nullptr) return -1;
  const size_t n = std::fread(dest, 1, capacity, file);
  const bool error = std::ferror(file) != 0;
  std::fclose(file);
  if (error) return -2;
  return static_cast<int64_t>(n);
}

}  // namespace vanta
