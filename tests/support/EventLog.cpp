#include "tests/support/EventLog.h"

#include <filesystem>

#include "tests/support/TempDir.h"

namespace vantrel::test {

std::string EventLogText(const std::string& directory) {
    std::string text;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 10 && name.compare(name.size() - 10, 10, ".event.log") == 0) {
            text += ReadFile(entry.path().string());
        }
    }
    return text;
}

std::vector<std::string> EventLogLines(const std::string& directory) {
    std::vector<std::string> lines;
    const std::string text = EventLogText(directory);
    for (std::string::size_type at = 0; at < text.size();) {
        std::string::size_type end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        const std::string::size_type comma = line.find(", ");
        if (line.rfind("[LR]<", 0) == 0 && comma != std::string::npos) {
            line = line.substr(comma + 2);
            const std::string::size_type close = line.find(">: ");
            if (close != std::string::npos) line.replace(close, 3, ": ");
        }
        lines.push_back(line);
    }
    return lines;
}

}  // namespace vantrel::test
