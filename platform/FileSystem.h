// File-system facts the library needs: where the host executable lives,
// directory creation, environment look-ups and reading files.
#pragma once

#include <cstddef>
#include <string>

namespace vantrel::platform {

// The separator the library puts between a directory and a name: "\" on
// Windows, "/" elsewhere. On Windows "/" is accepted as a separator too.
#if defined(_WIN32)
constexpr char kPathSeparator = '\\';
constexpr bool IsPathSeparator(char c) noexcept { return c == '\\' || c == '/'; }
#else
constexpr char kPathSeparator = '/';
constexpr bool IsPathSeparator(char c) noexcept { return c == '/'; }
#endif

// Directory of the executable that started the process (not of this library),
// absolute, with a trailing separator. Linux: from /proc/self/exe; empty when
// it cannot be read or does not fit in PATH_MAX. Windows: from
// GetModuleFileName; empty when it cannot be obtained, is 260 characters or
// longer, or cannot be made absolute.
std::string ExecutableDirectory();

// Creates the directory and every missing directory above it, like
// `mkdir -p`: each prefix ending at a separator is created in turn (on
// Windows after a drive designator such as "C:\"), then the whole path.
// Failures (an existing directory among them) are ignored; whether the
// directory is usable shows when a file is opened in it.
void MakeDirectories(const std::string& path);

// True when something (a file, a directory) exists at `path`.
bool PathExists(const std::string& path);

// The value of an environment variable, or the empty string when it is unset.
// On Windows the process environment block is read, so a host's
// SetEnvironmentVariable is seen.
std::string GetEnvironment(const char* name);

// Sets or removes an environment variable of the process. Meant for tests.
void SetEnvironment(const char* name, const std::string& value);
void UnsetEnvironment(const char* name);

enum class FileReadResult {
    Ok,
    NoStatus,     // the file's status cannot be read: it probably does not exist
    OpenFailed,   // it exists but cannot be opened for reading
    ReadFailed,   // a read failed part-way (a directory, an I/O error)
};

// Reads the whole file into `content`, up to its end whatever size its status
// gave. On any result but Ok `content` is left empty.
FileReadResult ReadWholeFile(const std::string& path, std::string& content);

enum class SmallFileRead {
    Ok,
    NotFound,     // nothing at the path (or the path is empty)
    NotRegular,   // a directory, a FIFO, a device: anything but a regular file
    TooLarge,     // more than the limit, by its status or by what was read
    Unreadable,   // there, but it cannot be opened or read
};

// Reads a regular file of at most `nMaxBytes` into `content`. Never blocks on
// the open (a FIFO without a writer, a device): anything but a regular file
// is refused without being read, and a file larger than the limit without
// being read whole. On any result but Ok `content` is left empty and `error`
// holds the system's error code where there is one (errno on Linux,
// GetLastError on Windows; 0 otherwise).
SmallFileRead ReadSmallRegularFile(const std::string& path, std::size_t nMaxBytes, std::string& content,
                                   int& error);

// The permission bits of the file at `path` (st_mode & 07777, symbolic links
// followed), or -1 when its status cannot be read.
int FilePermissions(const std::string& path);

}  // namespace vantrel::platform
