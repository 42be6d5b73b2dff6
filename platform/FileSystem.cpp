#include "platform/FileSystem.h"

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

int FilePermissions(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return -1;
    return static_cast<int>(status.st_mode & 07777);
}

}  // namespace vantrel::platform
