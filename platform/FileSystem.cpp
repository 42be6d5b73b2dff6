#include "platform/FileSystem.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace vantrel::platform {

std::string ExecutableDirectory() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
    // A result that fills the whole buffer may have been truncated.
    if (n <= 0 || static_cast<size_t>(n) >= sizeof buffer) {
        return std::string();
    }
    std::string path(buffer, static_cast<size_t>(n));
    const std::string::size_type slash = path.rfind('/');
    if (path.empty() || path[0] != '/' || slash == std::string::npos) {
        return std::string();
    }
    path.erase(slash + 1);
    return path;
}

void MakeDirectories(const std::string& path) {
    for (std::string::size_type i = 1; i < path.size(); ++i) {
        if (path[i] == '/') {
            ::mkdir(path.substr(0, i).c_str(), 0777);
        }
    }
    if (!path.empty()) {
        ::mkdir(path.c_str(), 0777);
    }
}

bool PathExists(const std::string& path) {
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

std::string GetEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}

void SetEnvironment(const char* name, const std::string& value) { ::setenv(name, value.c_str(), 1); }

void UnsetEnvironment(const char* name) { ::unsetenv(name); }

FileReadResult ReadWholeFile(const std::string& path, std::string& content) {
    content.clear();
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return FileReadResult::NoStatus;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return FileReadResult::OpenFailed;
    // The size from the status is only a first guess: the file may grow or
    // shrink meanwhile, so reading goes on to the end of the file.
    content.resize(status.st_size > 0 ? static_cast<size_t>(status.st_size) : 0);
    size_t nRead = 0;
    for (;;) {
        if (nRead == content.size()) content.resize(content.size() + 64 * 1024);
        const ssize_t n = ::read(fd, content.data() + nRead, content.size() - nRead);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            ::close(fd);
            content.clear();
            return FileReadResult::ReadFailed;
        }
        if (n == 0) break;
        nRead += static_cast<size_t>(n);
    }
    ::close(fd);
    content.resize(nRead);
    return FileReadResult::Ok;
}

SmallFileRead ReadSmallRegularFile(const std::string& path, std::size_t nMaxBytes, std::string& content,
                                   int& error) {
    content.clear();
    error = 0;
    if (path.empty()) return SmallFileRead::NotFound;
    struct stat status {};
    // Decided from the path first, so that a device or a FIFO is not even
    // opened (opening some devices has effects of its own).
    if (::stat(path.c_str(), &status) != 0) {
        error = errno;
        return errno == ENOENT || errno == ENOTDIR ? SmallFileRead::NotFound : SmallFileRead::Unreadable;
    }
    if (!S_ISREG(status.st_mode)) return SmallFileRead::NotRegular;
    if (static_cast<unsigned long long>(status.st_size) > nMaxBytes) return SmallFileRead::TooLarge;
    // The path may have been replaced meanwhile: the open must not wait for a
    // FIFO's writer, and what was opened is checked again.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        error = errno;
        return errno == ENOENT || errno == ENOTDIR ? SmallFileRead::NotFound : SmallFileRead::Unreadable;
    }
    SmallFileRead result = SmallFileRead::Ok;
    if (::fstat(fd, &status) != 0) {
        error = errno;
        result = SmallFileRead::Unreadable;
    } else if (!S_ISREG(status.st_mode)) {
        result = SmallFileRead::NotRegular;
    } else {
        // Read up to one byte past the limit, which shows a file that grew
        // beyond it; the status's size is only the first guess.
        content.resize(std::min<std::size_t>(static_cast<std::size_t>(status.st_size), nMaxBytes) + 1);
        std::size_t nRead = 0;
        for (;;) {
            if (nRead == content.size()) {
                if (nRead > nMaxBytes) break;
                content.resize(std::min(2 * content.size(), nMaxBytes + 1));
            }
            const ssize_t n = ::read(fd, content.data() + nRead, content.size() - nRead);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                error = errno;
                result = SmallFileRead::Unreadable;
                break;
            }
            if (n == 0) break;
            nRead += static_cast<std::size_t>(n);
        }
        if (result == SmallFileRead::Ok && nRead > nMaxBytes) result = SmallFileRead::TooLarge;
        content.resize(result == SmallFileRead::Ok ? nRead : 0);
    }
    ::close(fd);
    return result;
}

int FilePermissions(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return -1;
    return static_cast<int>(status.st_mode & 07777);
}

}  // namespace vantrel::platform
