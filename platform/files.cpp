#include "platform/files.h"

#include <dirent.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace vanta {

std::string ProgramPath() {
  char buffer[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return {};
  return std::string(buffer, static_cast<size_t>(n));
}

namespace {

// $name when it holds an absolute path (XDG counts nothing else), else the home directory
// followed by fallback.
std::string XdgDirectory(const char* name, const char* fallback) {
  const char* xdg = std::getenv(name);
  if (xdg != nullptr && xdg[0] == '/') return xdg;
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') return std::string(home) + fallback;
  // The reentrant lookup: ports are resolved on several threads when the command line serves
  // several probes.
  passwd entry{};
  passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      entry.pw_dir != nullptr) {
    return std::string(entry.pw_dir) + fallback;
  }
  return std::string("/tmp") + fallback;
}

}  // namespace

std::string UserConfigDirectory() {
  return XdgDirectory("XDG_CONFIG_HOME", "/.config");
}

std::string UserDataDirectory() {
  return XdgDirectory("XDG_DATA_HOME", "/.local/share");
}

std::string ProgramDirectory() {
  const std::string path = ProgramPath();
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return "./";
  return path.substr(0, slash + 1);
}

namespace {

bool Matches(const std::string& name, const std::string& pattern) {
  if (name.size() != pattern.size()) return false;
  for (size_t i = 0; i < name.size(); ++i) {
    if (pattern[i] != '?' && pattern[i] != name[i]) return false;
  }
  return true;
}

}  // namespace

std::vector<std::string> ListDirectory(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return names;
  while (dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (Matches(name, pattern)) names.push_back(name);
  }
  closedir(d);
  return names;
}

std::vector<std::string> ListVisibleEntries(const std::string& dir) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return names;
  while (dirent* entry = readdir(d)) {
    if (entry->d_name[0] != '.') names.push_back(entry->d_name);
  }
  closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

bool IsDirectory(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

TextFile::~TextFile() {
  Close();
}

bool TextFile::Open(const std::string& path) {
  Close();
  if (path.empty()) return false;
  file_ = std::fopen(path.c_str(), "rb");
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
  std::FILE* file = std::fopen(path.c_str(), "rb");
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
  while (line.size() < bufferSize - 1 && position < size) {
    char byte = static_cast<char>(data[position++]);
    if (byte == '\r' && position < size && data[position] == '\n') {
      byte = '\n';  // text mode: CR LF is one line end
      ++position;
    }
    line.push_back(byte);
    if (byte == '\n') break;
  }
  return !line.empty();
}

int64_t ReadFileBytes(const std::string& path, uint8_t* dest, size_t capacity) {
  if (path.empty()) return -1;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return -1;
  const size_t n = std::fread(dest, 1, capacity, file);
  const bool error = std::ferror(file) != 0;
  std::fclose(file);
  if (error) return -2;
  return static_cast<int64_t>(n);
}

bool ReplaceFileContents(const std::string& path, const std::string& content, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  size_t written = 0;
  bool ok = true;
  while (ok && written < content.size()) {
    const ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = false;
    } else {
      written += static_cast<size_t>(n);
    }
  }
  // The data reaches the disk before the name does: a crash leaves the old file or the new one.
  ok = ok && fsync(fd) == 0;
  const int savedErrno = errno;
  ok = close(fd) == 0 && ok;
  if (ok && std::rename(temporary.c_str(), path.c_str()) == 0) return true;
  error = "cannot write " + path + ": " + std::strerror(ok ? errno : savedErrno);
  unlink(temporary.c_str());
  return false;
}

}  // namespace vanta
