#include "tests/support/TempDir.h"

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <stdexcept>

#include "platform/Clock.h"

namespace vantrel::test {

TempDir::TempDir() {
    // A fresh name under the system's temporary directory; create_directory
    // fails for a name that exists, so a clash just draws again.
    static std::mt19937_64 random{std::random_device{}()};
    static const char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string name = "vantrel-test-";
        for (int i = 0; i < 8; ++i) name += kDigits[random() % 36];
        std::error_code ec;
        if (std::filesystem::create_directory(base / name, ec)) {
            m_path = (base / name).string();
            return;
        }
    }
    throw std::runtime_error("no temporary directory could be made");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

bool FileExists(const std::string& path) { return std::filesystem::exists(path); }

// Text mode: the log's CR LF line ends on Windows read back as LF, as the
// file was written.
std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

std::vector<std::string> ReadLines(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

void WriteSettingsFile(const std::string& path, const std::string& content) {
    WriteFile(path, content);
    std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

std::atomic<int64_t> FakeClock::s_nNow{0};

namespace {
int64_t ReadFakeClock() noexcept { return FakeClock::s_nNow.load(); }
}  // namespace

FakeClock::FakeClock(int64_t nEpochMillis) {
    s_nNow.store(nEpochMillis);
    platform::SetClockSource(&ReadFakeClock);
}

FakeClock::~FakeClock() { platform::SetClockSource(nullptr); }

int64_t EpochMillis(int y, int mo, int d, int h, int mi, int s) {
    // Days since 1970-01-01 of a proleptic Gregorian date (March-based year).
    const int64_t yy = mo <= 2 ? y - 1 : y;
    const int64_t era = (yy >= 0 ? yy : yy - 399) / 400;
    const int64_t yoe = yy - era * 400;
    const int64_t doy = (153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return ((days * 24 + h) * 60 + mi) * 60000 + static_cast<int64_t>(s) * 1000;
}

}  // namespace vantrel::test
