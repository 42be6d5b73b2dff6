#include "log/LogFacade.h"

#include <cstdlib>
#include <filesystem>
#include <thread>

#include <gtest/gtest.h>

#include "log/FileLog.h"
#include "platform/FileSystem.h"
#include "tests/support/AlertHandlers.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace {

using test::EpochMillis;
using test::ReadFile;
using test::TempDir;

// Each test points the facade at a fresh log directory and starts from a
// process with no log created yet.
class LogFacadeTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::SetUpAlertHandlersAside();
        testing::ResetFileLog();
        logDir = dir / "deep/REVar";
        platform::SetEnvironment("VANTREL_LOG_DIR", logDir.c_str());
    }
    void TearDown() override {
        testing::ResetFileLog();
        platform::UnsetEnvironment("VANTREL_LOG_DIR");
    }
    std::string eventFile() const { return logDir + platform::kPathSeparator + "GLOBAL20261208.event.log"; }

    TempDir dir;
    std::string logDir;
    test::FakeClock clock{EpochMillis(2026, 12, 8, 9, 15, 0)};
};

TEST_F(LogFacadeTest, FirstCallCreatesDirectoryAndThreeFiles) {
    EXPECT_FALSE(test::FileExists(logDir));
    OutputEvent2Log("Login() is started.");
    EXPECT_TRUE(test::FileExists(logDir + "/GLOBAL20261208.message.log"));
    EXPECT_TRUE(test::FileExists(logDir + "/GLOBAL20261208.transact.log"));
    EXPECT_EQ(ReadFile(eventFile()), "[LR]<20261208-09:15:00, event>: Login() is started.\n");
}

TEST_F(LogFacadeTest, WarningsAndErrorsGoToTheEventFile) {
    OutputWarning2Log("ReadString() Info: All connections was closed.");
    OutputError2Log(3, "x");
    OutputError2Log(2, std::string("StartQuotesThread(): login failed [login:password fields]."));
    OutputEvent2Log(static_cast<const char*>(nullptr));
    EXPECT_EQ(ReadFile(eventFile()),
              "[LR]<20261208-09:15:00, Warning>: ReadString() Info: All connections was closed.\n"
              "[LR]<20261208-09:15:00, Error (3)>: x\n"
              "[LR]<20261208-09:15:00, Error (2)>: StartQuotesThread(): login failed [login:password fields].\n"
              "[LR]<20261208-09:15:00, event>: \n");
}

TEST_F(LogFacadeTest, WarningCodeReplacesTheFirstPercentDOnly) {
    EXPECT_EQ(FormatWarningCode("StartQuotesThread(): 'recv' socket error = %d.", 10054),
              "StartQuotesThread(): 'recv' socket error = 10054.");
    EXPECT_EQ(FormatWarningCode("error = %d.", -104), "error = -104.");
    EXPECT_EQ(FormatWarningCode(nullptr, -7), "-7");
    EXPECT_EQ(FormatWarningCode("no number", 5), "no number");
    // The format is never interpreted by printf: other conversions stay text.
    EXPECT_EQ(FormatWarningCode("%s %n %d %d", 1), "%s %n 1 %d");

    OutputWarningCode2Log("StartQuotesThread(): 'send' socket error = %d.", 32);
    OutputWarningCode2Log(nullptr, -1);
    EXPECT_EQ(ReadFile(eventFile()),
              "[LR]<20261208-09:15:00, Warning>: StartQuotesThread(): 'send' socket error = 32.\n"
              "[LR]<20261208-09:15:00, Warning>: -1\n");
}

TEST_F(LogFacadeTest, UncreatableDirectoryIsSilentAndRetriedByTheNextCall) {
    // A plain file where the log directory's parent should be.
    test::WriteFile(dir / "deep", "in the way");
    OutputEvent2Log("lost 1");
    OutputWarning2Log("lost 2");
    OutputWarningCode2Log("lost %d", 3);
    OutputError2Log(1, "lost 4");
    EXPECT_FALSE(test::FileExists(logDir));

    std::filesystem::remove(dir / "deep");
    OutputEvent2Log("kept");
    EXPECT_EQ(ReadFile(eventFile()), "[LR]<20261208-09:15:00, event>: kept\n");
}

TEST_F(LogFacadeTest, ConcurrentFirstCallsCreateOneLogAndKeepEveryLine) {
    constexpr int kThreads = 8;
    constexpr int kLines = 200;
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&ready, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            for (int i = 0; i < kLines; ++i) {
                if (i % 2) {
                    OutputEvent2Log("t" + std::to_string(t) + "-" + std::to_string(i));
                } else {
                    OutputError2Log(3, "t" + std::to_string(t) + "-" + std::to_string(i));
                }
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(test::ReadLines(eventFile()).size(), static_cast<size_t>(kThreads * kLines));
    Log* first = &GetFileLog();
    EXPECT_EQ(first, &GetFileLog());
}

TEST(LogDirectory, DefaultsToREVarBesideTheExecutable) {
    platform::UnsetEnvironment("VANTREL_LOG_DIR");
    const std::string exeDir = platform::ExecutableDirectory();
    ASSERT_FALSE(exeDir.empty());
    EXPECT_EQ(exeDir.back(), platform::kPathSeparator);
    EXPECT_EQ(LogDirectory(), exeDir + "REVar");
    platform::SetEnvironment("VANTREL_LOG_DIR", "");
    EXPECT_EQ(LogDirectory(), exeDir + "REVar");
    platform::SetEnvironment("VANTREL_LOG_DIR", "/tmp/elsewhere");
    EXPECT_EQ(LogDirectory(), "/tmp/elsewhere");
    platform::UnsetEnvironment("VANTREL_LOG_DIR");
}

}  // namespace
}  // namespace vantrel
