#include "platform/FileSystem.h"

#include <climits>
#include <cstdlib>
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

}  // namespace vantrel::platform
