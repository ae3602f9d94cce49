// Files and directories on Windows: the program's own path, the per-user and the machine's
// application data folders, FindFirstFile listings and a replace by rename.
#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "platform/files.h"
#include "platform/files_p.h"
#include "platform/windows_p.h"

namespace vanta {

std::string detail::SystemErrorText(DWORD error) {
  char* buffer = nullptr;
  const DWORD n = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, error, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<char*>(&buffer),
      0, nullptr);
  std::string text = n > 0 && buffer != nullptr ? std::string(buffer, n) : std::string();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() &&
         (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.')) {
    text.pop_back();
  }
  return text.empty() ? "error " + std::to_string(error) : text;
}

std::string detail::EnvironmentText(const char* name) {
  char buffer[MAX_PATH * 2];
  const DWORD n = GetEnvironmentVariableA(name, buffer, sizeof buffer);
  if (n == 0 || n >= sizeof buffer) return {};
  return std::string(buffer, n);
}

std::FILE* detail::OpenForReading(const std::string& path) {
  const int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, nullptr, 0);
  if (size > 0) {
    std::wstring wide(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path.c_str(), -1, wide.data(), size);
    return _wfopen(wide.c_str(), L"rb");
  }
  return std::fopen(path.c_str(), "rb");
}

std::string ProgramPath() {
  // Long paths: grow the buffer until the whole name fits.
  std::string buffer(MAX_PATH, '\0');
  for (;;) {
    const DWORD n = GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    if (buffer.size() >= 32768) return {};
    buffer.resize(buffer.size() * 2);
  }
}

namespace {

// A folder from the environment without its trailing separator; fallback when it is not set.
std::string FolderOf(const char* variable, const char* fallback) {
  std::string folder = detail::EnvironmentText(variable);
  if (folder.empty()) folder = fallback;
  while (folder.size() > 3 && IsPathSeparator(folder.back())) folder.pop_back();
  return folder;
}

}  // namespace

std::string UserConfigDirectory() {
  return FolderOf("APPDATA", ".");
}

std::string UserDataDirectory() {
  return FolderOf("LOCALAPPDATA", ".");
}

char PathSeparator() {
  return '\\';
}

bool IsPathSeparator(char c) {
  return c == '\\' || c == '/';
}

std::vector<std::string> ImageSearchDirectories() {
  return {ProgramDirectory(), UserDataDirectory() + "\\Norvane\\vantaLink\\images\\",
          FolderOf("PROGRAMDATA", "C:\\ProgramData") + "\\Norvane\\vantaLink\\images\\"};
}

namespace {

// Every entry FindFirstFile lists for dir and pattern (its own wildcards), "." and ".." left out.
template <typename Keep>
std::vector<std::string> FindEntries(const std::string& dir, const std::string& pattern,
                                     Keep keep) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry{};
  const HANDLE find = FindFirstFileA((DirectoryPrefix(dir) + pattern).c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    const std::string name = entry.cFileName;
    if (name != "." && name != ".." && keep(name)) names.push_back(name);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

}  // namespace

std::vector<std::string> ListDirectory(const std::string& dir, const std::string& pattern) {
  // FindFirstFile's '?' also matches nothing at the end of a name, and a long name may match
  // through its short 8.3 form: the listing is checked against the pattern again.
  return FindEntries(dir, pattern, [&](const std::string& name) {
    return detail::MatchesPattern(name, pattern, true);
  });
}

std::vector<std::string> ListVisibleEntries(const std::string& dir) {
  std::vector<std::string> names =
      FindEntries(dir, "*", [](const std::string& name) { return name[0] != '.'; });
  std::sort(names.begin(), names.end());
  return names;
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Creates an empty file of a fresh name in path's directory, so that what is written there can
// be renamed over path within one volume.
static bool CreateTemporaryBeside(const std::string& path, char (&temporary)[MAX_PATH + 16],
                                  std::string& error) {
  const size_t slash = path.find_last_of("\\/");
  const std::string dir = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  if (GetTempFileNameA(dir.c_str(), "vlk", 0, temporary) == 0) {
    error = "cannot create a file beside " + path + ": " + detail::SystemErrorText(GetLastError());
    return false;
  }
  return true;
}

bool CanCreateFileBeside(const std::string& path, std::string& error) {
  char temporary[MAX_PATH + 16];
  if (!CreateTemporaryBeside(path, temporary, error)) return false;
  DeleteFileA(temporary);
  return true;
}

bool MakeDirectories(const std::string& path, std::string& error) {
  // Each parent in turn, at either separator; a drive ("C:") or one that exists is no failure.
  for (size_t at = path.find_first_of("/\\", 1);; at = path.find_first_of("/\\", at + 1)) {
    const std::string part = path.substr(0, at);
    if (!part.empty() && part.back() != ':' && !IsDirectory(part) &&
        CreateDirectoryA(part.c_str(), nullptr) == 0 && GetLastError() != ERROR_ALREADY_EXISTS) {
      error =
          "Cannot create the directory " + part + ": " + detail::SystemErrorText(GetLastError());
      return false;
    }
    if (at == std::string::npos) break;
  }
  if (IsDirectory(path)) return true;
  error = path + " exists and is no directory";
  return false;
}

bool ReplaceFileContents(const std::string& path, const std::string& content, std::string& error) {
  char temporary[MAX_PATH + 16];
  if (!CreateTemporaryBeside(path, temporary, error)) return false;
  const HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  bool ok = file != INVALID_HANDLE_VALUE;
  DWORD failure = ok ? 0 : GetLastError();
  size_t written = 0;
  while (ok && written < content.size()) {
    const DWORD piece = static_cast<DWORD>(std::min<size_t>(content.size() - written, 1u << 30));
    DWORD n = 0;
    ok = WriteFile(file, content.data() + written, piece, &n, nullptr) && n > 0;
    if (!ok) failure = GetLastError();
    written += n;
  }
  // The data reaches the disk before the name does: a crash leaves the old file or the new one.
  if (ok && !FlushFileBuffers(file)) {
    ok = false;
    failure = GetLastError();
  }
  if (file != INVALID_HANDLE_VALUE && !CloseHandle(file) && ok) {
    ok = false;
    failure = GetLastError();
  }
  if (ok &&
      MoveFileExA(temporary, path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  if (ok) failure = GetLastError();
  error = "cannot write " + path + ": " + detail::SystemErrorText(failure);
  DeleteFileA(temporary);
  return false;
}

}  // namespace vanta
