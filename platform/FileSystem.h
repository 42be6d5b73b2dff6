// File-system facts the library needs: where the host executable lives,
// directory creation, environment look-ups and reading a whole file.
#pragma once

#include <string>

namespace vantrel::platform {

// Directory of the executable that started the process (not of this library),
// from /proc/self/exe, with a trailing "/". Empty when the path cannot be read
// or does not fit in PATH_MAX.
std::string ExecutableDirectory();

// Creates the directory and every missing directory above it, like
// `mkdir -p`: each prefix ending at a "/" is created in turn, then the whole
// path. Failures (an existing directory among them) are ignored; whether the
// directory is usable shows when a file is opened in it.
void MakeDirectories(const std::string& path);

// The value of an environment variable, or the empty string when it is unset.
std::string GetEnvironment(const char* name);

enum class FileReadResult {
    Ok,
    NoStatus,     // the file's status cannot be read: it probably does not exist
    OpenFailed,   // it exists but cannot be opened for reading
    ReadFailed,   // a read failed part-way (a directory, an I/O error)
};

// Reads the whole file into `content`, up to its end whatever size its status
// gave. On any result but Ok `content` is left empty.
FileReadResult ReadWholeFile(const std::string& path, std::string& content);

// The permission bits of the file at `path` (st_mode & 07777, symbolic links
// followed), or -1 when its status cannot be read.
int FilePermissions(const std::string& path);

}  // namespace vantrel::platform
