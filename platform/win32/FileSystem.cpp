#include "platform/FileSystem.h"

#include <algorithm>
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

SmallFileRead ReadSmallRegularFile(const std::string& path, std::size_t nMaxBytes, std::string& content,
                                   int& error) {
    content.clear();
    error = 0;
    if (path.empty()) return SmallFileRead::NotFound;
    const auto failure = [&error](DWORD code) {
        error = static_cast<int>(code);
        return code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? SmallFileRead::NotFound
                                                                            : SmallFileRead::Unreadable;
    };
    WIN32_FILE_ATTRIBUTE_DATA attributes{};
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &attributes)) return failure(::GetLastError());
    if (attributes.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return SmallFileRead::NotRegular;
    // Opening a pipe or a device never waits; what was opened is checked
    // before anything is read from it.
    const HANDLE file = ::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return failure(::GetLastError());
    SmallFileRead result = SmallFileRead::Ok;
    LARGE_INTEGER size{};
    if (::GetFileType(file) != FILE_TYPE_DISK) {
        result = SmallFileRead::NotRegular;
    } else if (!::GetFileSizeEx(file, &size)) {
        result = failure(::GetLastError());
    } else if (static_cast<unsigned long long>(size.QuadPart) > nMaxBytes) {
        result = SmallFileRead::TooLarge;
    } else {
        // Read up to one byte past the limit, which shows a file that grew
        // beyond it; the size is only the first guess.
        content.resize(static_cast<std::size_t>(size.QuadPart) + 1);
        std::size_t nRead = 0;
        for (;;) {
            if (nRead == content.size()) {
                if (nRead > nMaxBytes) break;
                content.resize(std::min(2 * content.size(), nMaxBytes + 1));
            }
            DWORD n = 0;
            if (!::ReadFile(file, content.data() + nRead, static_cast<DWORD>(content.size() - nRead), &n, nullptr)) {
                result = failure(::GetLastError());
                if (result == SmallFileRead::NotFound) result = SmallFileRead::Unreadable;
                break;
            }
            if (n == 0) break;
            nRead += n;
        }
        if (result == SmallFileRead::Ok && nRead > nMaxBytes) result = SmallFileRead::TooLarge;
        content.resize(result == SmallFileRead::Ok ? nRead : 0);
    }
    ::CloseHandle(file);
    if (result != SmallFileRead::Ok) content.clear();
    return result;
}

// Windows files carry access control lists, not permission bits: there are
// no bits to report.
int FilePermissions(const std::string&) { return -1; }

}  // namespace vantrel::platform
