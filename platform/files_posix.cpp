#include <dirent.h>
#include <limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/files.h"
#include "platform/files_p.h"

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

std::FILE* detail::OpenForReading(const std::string& path) {
  return std::fopen(path.c_str(), "rb");
}

char PathSeparator() {
  return '/';
}

bool IsPathSeparator(char c) {
  return c == '/';
}

std::vector<std::string> ImageSearchDirectories() {
  return {ProgramDirectory(), UserDataDirectory() + "/Norvane/vantaLink/images/",
          "/usr/share/vantalink/images/"};
}

std::vector<std::string> ListDirectory(const std::string& dir, const std::string& pattern) {
  std::vector<std::string> names;
  DIR* d = opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return names;
  while (dirent* entry = readdir(d)) {
    const std::string name = entry->d_name;
    if (detail::MatchesPattern(name, pattern, false)) names.push_back(name);
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

namespace {

// The process's umask without changing it (umask() would, for every thread at once): Linux tells
// it in /proc/self/status; 022 where it does not.
mode_t CurrentUmask() {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  unsigned mask = 022;
  if (status != nullptr) {
    char line[256];
    while (std::fgets(line, sizeof line, status) != nullptr) {
      if (std::sscanf(line, "Umask: %o", &mask) == 1) break;
    }
    std::fclose(status);
  }
  return static_cast<mode_t>(mask);
}

}  // namespace

bool CanCreateFileBeside(const std::string& path, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  close(fd);
  unlink(temporary.c_str());
  return true;
}

bool MakeDirectories(const std::string& path, std::string& error) {
  // Each parent in turn, from the first separator on; one that exists already is no failure.
  for (size_t at = path.find('/', 1);; at = path.find('/', at + 1)) {
    const std::string part = path.substr(0, at);
    if (!part.empty() && mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
      error = "Cannot create the directory " + part + ": " + std::strerror(errno);
      return false;
    }
    if (at == std::string::npos) break;
  }
  if (IsDirectory(path)) return true;
  error = path + " exists and is no directory";
  return false;
}

bool ReplaceFileContents(const std::string& path, const std::string& content, std::string& error) {
  std::string temporary = path + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0) {
    error = "cannot create a file beside " + path + ": " + std::strerror(errno);
    return false;
  }
  // mkstemp makes the file 0600; the finished file is one like any other the user makes.
  struct stat existing {};
  const mode_t mode =
      stat(path.c_str(), &existing) == 0 ? (existing.st_mode & 07777) : (0666 & ~CurrentUmask());
  fchmod(fd, mode);
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
