#include "platform/FileSystem.h"

#include <cctype>
#include <cstdlib>
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>

#include "platform/win32/Windows.h"

namespace vantrel::platform {

std::string ExecutableDirectory() {
    char path[MAX_PATH];
    const DWORD n = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    // A path of MAX_PATH (260) characters or more does not fit with its NUL
    // and comes back truncated.
    if (n == 0 || n >= MAX_PATH) return std::string();
    char full[MAX_PATH];
    char* pFilePart = nullptr;
    const DWORD m = ::GetFullPathNameA(path, MAX_PATH, full, &pFilePart);
    if (m == 0 || m >= MAX_PATH || pFilePart == nullptr) return std::string();
    *pFilePart = '\0';  // keeps the "\" before the file name
    return std::string(full);
}

void MakeDirectories(const std::string& path) {
    const bool bDrive = path.size() >= 2 && std::isalpha(static_cast<unsigned char>(path[0])) && path[1] == ':';
    for (std::string::size_type i = bDrive ? 3 : 1; i < path.size(); ++i) {
        if (IsPathSeparator(path[i])) {
            ::CreateDirectoryA(path.substr(0, i).c_str(), nullptr);
        }
    }
    if (!path.empty()) {
        ::CreateDirectoryA(path.c_str(), nullptr);
    }
}

bool PathExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string GetEnvironment(const char* name) {
    std::string value(256, '\0');
    for (;;) {
        const DWORD n = ::GetEnvironmentVariableA(name, value.data(), static_cast<DWORD>(value.size()));
        if (n == 0) return std::string();  // unset (or empty)
        if (n < value.size()) {
            value.resize(n);
            return value;
        }
        value.resize(n);  // n is the size needed, NUL included
    }
}

// The C run-time keeps its own copy of the environment: both are changed.
void SetEnvironment(const char* name, const std::string& value) {
    ::SetEnvironmentVariableA(name, value.c_str());
    ::_putenv((std::string(name) + "=" + value).c_str());
}

void UnsetEnvironment(const char* name) {
    ::SetEnvironmentVariableA(name, nullptr);
    ::_putenv((std::string(name) + "=").c_str());
}

FileReadResult ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    struct _stat64 status {};
    if (::_stat64(path.c_str(), &status) != 0) return FileReadResult::NoStatus;
    // Windows opens no directory as a file: that reads as a failed open.
    const int fd = ::_open(path.c_str(), _O_RDONLY | _O_BINARY | _O_NOINHERIT);
    if (fd < 0) return FileReadResult::OpenFailed;
    // The size from the status is only a first guess: the file may grow or
    // shrink meanwhile, so reading goes on to the end of the file.
    content.resize(status.st_size > 0 ? static_cast<size_t>(status.st_size) : 0);
    size_t nRead = 0;
    for (;;) {
        if (nRead == content.size()) content.resize(content.size() + 64 * 1024);
        const size_t want = content.size() - nRead;
        const int n = ::_read(fd, content.data() + nRead, want > 0x40000000u ? 0x40000000u : static_cast<unsigned>(want));
        if (n < 0) {
            ::_close(fd);
            content.clear();
            return FileReadResult::ReadFailed;
        }
        if (n == 0) break;
        nRead += static_cast<size_t>(n);
    }
    ::_close(fd);
    content.resize(nRead);
    return FileReadResult::Ok;
}

// Windows files carry access control lists, not permission bits: there are
// no bits to report.
int FilePermissions(const std::string&) { return -1; }

}  // namespace vantrel::platform
