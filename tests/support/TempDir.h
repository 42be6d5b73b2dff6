// Test helpers: a temporary directory removed at the end of the test, file
// reading, and a settable clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/FileSystem.h"

namespace vantrel {
namespace test {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    // The path of `name` inside, joined with the platform's separator as the
    // library joins its file names.
    std::string operator/(const std::string& name) const { return m_path + platform::kPathSeparator + name; }

private:
    std::string m_path;
};

bool FileExists(const std::string& path);
std::string ReadFile(const std::string& path);
std::vector<std::string> ReadLines(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);
// A settings file as it should be kept: readable by its owner only (mode 0600).
void WriteSettingsFile(const std::string& path, const std::string& content);

// Installs a clock that reads FakeClock::now while the object lives.
class FakeClock {
public:
    explicit FakeClock(int64_t nEpochMillis);
    ~FakeClock();
    void set(int64_t nEpochMillis) { s_nNow.store(nEpochMillis); }
    static std::atomic<int64_t> s_nNow;
};

// Milliseconds since the epoch of a UTC date and time.
int64_t EpochMillis(int y, int mo, int d, int h = 0, int mi = 0, int s = 0);

}  // namespace test
}  // namespace vantrel
