#pragma once
// Files as the tool sees them: its own directory, directory listings with '?' wildcards, and
// text-mode line reading into a bounded buffer.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace vanta {

// Full path of the running executable (/proc/self/exe; GetModuleFileName on Windows), or "" when
// it cannot be found.
std::string ProgramPath();

// The per-user configuration directory without a trailing '/': $XDG_CONFIG_HOME when it is an
// absolute path, else ~/.config (the home directory from $HOME or the password database).
std::string UserConfigDirectory();

// The per-user data directory without a trailing '/': $XDG_DATA_HOME when it is an absolute
// path, else ~/.local/share.
std::string UserDataDirectory();

// Directory of the running executable with a trailing separator, or "./" when it cannot be
// found.
std::string ProgramDirectory();

// The separator this system writes between the parts of a path ('/'; '\\' on Windows), and
// whether c separates them here (Windows takes both).
char PathSeparator();
bool IsPathSeparator(char c);

// dir with a separator at its end; "" (the working directory) stays "".
std::string DirectoryPrefix(const std::string& dir);

// Where image files are looked for, most preferred first, each ending in a separator: beside the
// program, then the per-user place for one's own images, then the one for every user of the
// machine. On Linux $XDG_DATA_HOME/Norvane/vantaLink/images (by default ~/.local/share/...) and
// /usr/share/vantalink/images; on Windows %LOCALAPPDATA%\Norvane\vantaLink\images and
// %PROGRAMDATA%\Norvane\vantaLink\images.
std::vector<std::string> ImageSearchDirectories();

// Names (not paths) of the entries of dir that match pattern, in the order the system lists them.
// In the pattern '?' stands for exactly one character; everything else matches itself, case
// sensitive (Windows: letters in either case, as its file names). A missing or unreadable
// directory gives an empty list.
std::vector<std::string> ListDirectory(const std::string& dir, const std::string& pattern);

// Names of every entry of dir but those starting with '.' (".", "..", and the temporary links
// udev makes before it renames them into place), sorted. A missing or unreadable directory gives
// an empty list.
std::vector<std::string> ListVisibleEntries(const std::string& dir);

// True when path names a directory (following links).
bool IsDirectory(const std::string& path);

// Creates the directory path and any of its parents that are missing (as the umask allows); true
// when it exists as a directory afterwards, else false with error set (the system's reason).
bool MakeDirectories(const std::string& path, std::string& error);

// Reads a file line by line in text mode: CR LF reaches the caller as one LF, and the line end
// stays attached. One ReadLine takes at most bufferSize - 1 characters, like fgets with a buffer
// of bufferSize: the rest of a longer line comes with the next call.
class TextFile {
 public:
  TextFile() = default;
  ~TextFile();
  TextFile(const TextFile&) = delete;
  TextFile& operator=(const TextFile&) = delete;

  // Opens path for reading; false when it cannot be opened (an empty path never opens).
  bool Open(const std::string& path);
  void Close();
  bool IsOpen() const { return file_ != nullptr; }

  // Next piece of a line into line; false at the end of the file with nothing read, or on a read
  // error (Failed() then tells which).
  bool ReadLine(std::string& line, size_t bufferSize);

  // Bytes of the file consumed so far, and the file's length in bytes (0 when unknown).
  uint64_t Position() const { return position_; }
  uint64_t Length() const { return length_; }
  bool Failed() const { return failed_; }

 private:
  int NextByte();  // next raw byte or EOF
  void PushBack(int byte);

  std::FILE* file_ = nullptr;
  uint64_t position_ = 0;
  uint64_t length_ = 0;
  int pending_ = EOF;
  bool failed_ = false;
};

// Whether a file can be made beside path (its directory exists and takes new files): tried with a
// temporary file that is removed at once. false with error set (the system's reason).
bool CanCreateFileBeside(const std::string& path, std::string& error);

// Writes content to a new file beside path and renames it over path once it is complete and
// synced, so path holds either its old contents or all of the new ones. The file gets the mode
// a new file gets from the user's umask (an existing path keeps its own). false with error set
// (the system's reason) when any step fails; the temporary file is then removed.
bool ReplaceFileContents(const std::string& path, const std::string& content, std::string& error);

// Reads the whole file at path into bytes; false when it cannot be opened or read.
bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes);

// The next line of text held in memory, cut as TextFile::ReadLine cuts a file (CR LF as one LF,
// the line end attached, at most bufferSize - 1 characters). position moves past what was taken;
// false at the end.
bool NextTextLine(const uint8_t* data, size_t size, size_t& position, std::string& line,
                  size_t bufferSize);

// Reads at most capacity bytes of the file at path into dest. Returns the count read, or -1 when
// the file cannot be opened and -2 on a read error in the middle of the file.
int64_t ReadFileBytes(const std::string& path, uint8_t* dest, size_t capacity);

}  // namespace vanta
