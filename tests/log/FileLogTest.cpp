#include "log/FileLog.h"

#include <filesystem>
#include <regex>
#include <set>
#include <thread>

#include <gtest/gtest.h>
#include <quickfix/Exceptions.h>

#include "tests/support/TempDir.h"

namespace vantrel {
namespace {

using test::EpochMillis;
using test::FakeClock;
using test::ReadFile;
using test::ReadLines;
using test::TempDir;

class FileLogTest : public ::testing::Test {
protected:
    TempDir dir;
    FakeClock clock{EpochMillis(2026, 12, 8, 18, 30, 5)};
    std::string name(const std::string& date, const std::string& ending) const {
        return dir / ("GLOBAL" + date + "." + ending);
    }
};

TEST_F(FileLogTest, EveryOperationWritesItsLabelToItsFile) {
    FileLog log(dir.path());
    log.onEvent("e", false);
    log.onIncoming("in", false);
    log.onOutgoing("out", true);
    log.onMTIncoming("mti", false);
    log.onMTOutgoing("mto", false);
    log.onBankIncoming("bi", false);
    log.onBankOutgoing("bo", false);
    log.onError(3, "err", false);
    log.onError(0, "zero", false);
    log.onError(4294967295u, "max", true);
    log.onWarning("w", false);
    log.onTransaction("t", false);

    const std::string p = "[LR]<20261208-18:30:05";
    EXPECT_EQ(ReadFile(name("20261208", "event.log")),
              p + ", event>: e\n" + p + ", MT incoming>: mti\n" + p + ", MT outgoing>: mto\n" +
                  p + ", Bank incoming>: bi\n" + p + ", Bank outgoing>: bo\n" + p +
                  ", Error (3)>: err\n" + p + ", Error (0)>: zero\n" + p +
                  ", Error (4294967295)>: max\n" + p + ", Warning>: w\n");
    EXPECT_EQ(ReadFile(name("20261208", "message.log")),
              p + ", incoming>: in\n" + p + ", outgoing>: out\n");
    EXPECT_EQ(ReadFile(name("20261208", "transact.log")), p + ", Transaction>: t\n");
}

TEST_F(FileLogTest, CreatesAllThreeFilesEmptyAndAppendsToExistingOnes) {
    test::WriteFile(name("20261208", "event.log"), "earlier\n");
    {
        FileLog log(dir.path());
        EXPECT_EQ(log.messagesFileName(), name("20261208", "message.log"));
        EXPECT_EQ(log.transactionFileName(), name("20261208", "transact.log"));
        log.onEvent("later", true);
    }
    EXPECT_TRUE(test::FileExists(name("20261208", "message.log")));
    EXPECT_TRUE(test::FileExists(name("20261208", "transact.log")));
    EXPECT_EQ(ReadFile(name("20261208", "message.log")), "");
    EXPECT_EQ(ReadFile(name("20261208", "event.log")),
              "earlier\n[LR]<20261208-18:30:05, event>: later\n");
}

TEST_F(FileLogTest, ControlCharactersAreEscapedSoEveryEntryIsOneLine) {
    const struct {
        std::string text;
        std::string written;
    } cases[] = {
        {"first\nsecond\r\nthird", "first\\nsecond\\r\\nthird"},
        // A text that tries to forge a line of the library's own.
        {"alice\n[LR]<20261208-18:30:05, event>: Login() is started.",
         "alice\\n[LR]<20261208-18:30:05, event>: Login() is started."},
        {std::string("tab\t nul") + '\0' + " esc\x1b del\x7f unit\x1f", "tab\\x09 nul\\x00 esc\\x1B del\\x7F unit\\x1F"},
        // Printable ASCII, backslashes and 8-bit bytes pass unchanged.
        {"C:\\dir ~ \xe9\x80\xff", "C:\\dir ~ \xe9\x80\xff"},
    };
    FileLog log(dir.path());
    std::string expected;
    for (const auto& c : cases) {
        log.onWarning(c.text, true);
        expected += "[LR]<20261208-18:30:05, Warning>: " + c.written + "\n";
    }
    EXPECT_EQ(ReadFile(log.eventFileName()), expected);
}

TEST_F(FileLogTest, FirstWriteAfterMidnightSwitchesAllThreeFiles) {
    clock.set(EpochMillis(2026, 12, 31, 23, 59, 59));
    FileLog log(dir.path());
    log.onEvent("before", false);
    clock.set(EpochMillis(2027, 1, 1, 0, 0, 0));
    log.onEvent("after", false);
    log.onIncoming("in", false);
    log.onTransaction("t", false);

    EXPECT_EQ(ReadFile(name("20261231", "event.log")), "[LR]<20261231-23:59:59, event>: before\n");
    EXPECT_EQ(ReadFile(name("20270101", "event.log")), "[LR]<20270101-00:00:00, event>: after\n");
    EXPECT_EQ(ReadFile(name("20270101", "message.log")), "[LR]<20270101-00:00:00, incoming>: in\n");
    EXPECT_EQ(ReadFile(name("20270101", "transact.log")),
              "[LR]<20270101-00:00:00, Transaction>: t\n");
    EXPECT_EQ(log.eventFileName(), name("20270101", "event.log"));
    EXPECT_EQ(ReadFile(name("20261231", "message.log")), "");
}

// A file that cannot be opened after midnight loses its lines, without
// failing the writer, and is tried again at most once a second.
TEST_F(FileLogTest, FileThatFailsToOpenAtDateChangeDropsItsLinesAndIsTriedAgainEverySecond) {
    FileLog log(dir.path());
    // A directory where the next day's event file should be blocks its opening.
    std::filesystem::create_directory(name("20261209", "event.log"));
    clock.set(EpochMillis(2026, 12, 9, 0, 0, 1));
    EXPECT_NO_THROW(log.onEvent("lost", true));
    // The other files of the day keep working.
    log.onIncoming("in", true);
    EXPECT_EQ(ReadFile(name("20261209", "message.log")), "[LR]<20261209-00:00:01, incoming>: in\n");

    std::filesystem::remove(name("20261209", "event.log"));
    clock.set(EpochMillis(2026, 12, 9, 0, 0, 1) + 999);
    EXPECT_NO_THROW(log.onEvent("lost within the second", true));
    EXPECT_FALSE(test::FileExists(name("20261209", "event.log")));

    clock.set(EpochMillis(2026, 12, 9, 0, 0, 2));
    log.onEvent("kept", true);
    log.onTransaction("t", true);
    EXPECT_EQ(ReadFile(name("20261209", "event.log")), "[LR]<20261209-00:00:02, event>: kept\n");
    EXPECT_EQ(ReadFile(name("20261209", "transact.log")), "[LR]<20261209-00:00:02, Transaction>: t\n");
}

TEST_F(FileLogTest, CreatesMissingParentDirectoriesAndJoinsTrailingSlashOnce) {
    const std::string nested = dir / "upper/lower";
    FileLog log(nested + "/");
    EXPECT_EQ(log.eventFileName(), nested + "/GLOBAL20261208.event.log");
    EXPECT_TRUE(test::FileExists(nested + "/GLOBAL20261208.transact.log"));
}

TEST_F(FileLogTest, ConstructionFailsWithConfigErrorWhenDirectoryCannotBeMade) {
    test::WriteFile(dir / "file", "x");
    try {
        FileLog log(dir / "file/sub");
        FAIL() << "expected FIX::ConfigError";
    } catch (const FIX::ConfigError& e) {
        EXPECT_EQ(std::string(e.what()), "Configuration failed: Could not open messages file: " +
                                             (dir / "file/sub") + platform::kPathSeparator +
                                             "GLOBAL20261208.message.log");
    }
}

TEST_F(FileLogTest, ClearEmptiesTheCurrentFiles) {
    FileLog log(dir.path());
    log.onEvent("a", true);
    log.onIncoming("b", true);
    log.clear();
    EXPECT_EQ(ReadFile(log.eventFileName()), "");
    EXPECT_EQ(ReadFile(log.messagesFileName()), "");
    log.onEvent("c", true);
    EXPECT_EQ(ReadFile(log.eventFileName()), "[LR]<20261208-18:30:05, event>: c\n");
}

// Lines written by many threads at once, some across a date change, all
// arrive whole: none lost, none interleaved.
TEST_F(FileLogTest, ConcurrentWritersNeverInterleaveOrLoseLines) {
    FileLog log(dir.path());
    constexpr int kThreads = 8;
    constexpr int kLines = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&log, t] {
            const std::string filler(static_cast<size_t>(50 + t * 40), static_cast<char>('a' + t));
            for (int i = 0; i < kLines; ++i) {
                log.onEvent("t" + std::to_string(t) + " n" + std::to_string(i) + " " + filler, i % 2 == 0);
            }
        });
    }
    for (auto& th : threads) th.join();

    const std::regex shape(R"(\[LR\]<20261208-18:30:05, event>: t(\d) n(\d+) ([a-z]+))");
    std::set<std::pair<int, int>> seen;
    for (const std::string& line : ReadLines(log.eventFileName())) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, shape)) << line;
        const int t = std::stoi(m[1]);
        EXPECT_EQ(m[3].str(), std::string(static_cast<size_t>(50 + t * 40), static_cast<char>('a' + t)));
        EXPECT_TRUE(seen.emplace(t, std::stoi(m[2])).second) << line;
    }
    EXPECT_EQ(seen.size(), static_cast<size_t>(kThreads * kLines));
}

}  // namespace
}  // namespace vantrel
