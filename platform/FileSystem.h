// File-system facts the library needs: where the host executable lives,
// directory creation and environment look-ups.
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

// True when something (a file, a directory) exists at `path`.
bool PathExists(const std::string& path);

// The value of an environment variable, or the empty string when it is unset.
std::string GetEnvironment(const char* name);

}  // namespace vantrel::platform
