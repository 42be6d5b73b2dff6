#include "config/Config.h"

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <memory>
#include <thread>
#include <vector>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>
#include <quickfix/Exceptions.h>

#include "config/CfgSettingHandler.h"
#include "log/LogFacade.h"
#include "platform/FileSystem.h"
#include "tests/support/AlertHandlers.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace {

using test::EpochMillis;
using test::ReadFile;
using test::TempDir;
using test::WriteFile;
using test::WriteSettingsFile;

std::string AbsentEvent(const std::string& key, const char* value) {
    return "[LR]<20261208-09:15:00, event>: '" + key +
           "' setting is not present in [DEFAULT] session of config file; using default value = " +
           value + "\n";
}

// Each test starts with a fresh store reading <temp>/vantrel.cfg (not yet
// written) and a fresh log in <temp>/log.
class ConfigTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::SetUpAlertHandlersAside();
        platform::SetEnvironment("VANTREL_CONFIG", configFile.c_str());
        platform::SetEnvironment("VANTREL_LOG_DIR", (dir / "log").c_str());
        testing::ResetConfigStore();
        testing::ResetFileLog();
    }
    void TearDown() override {
        testing::ResetFileLog();
        platform::UnsetEnvironment("VANTREL_CONFIG");
        platform::UnsetEnvironment("VANTREL_LOG_DIR");
        testing::ResetConfigStore();
    }
    void WriteConfig(const std::string& defaults) {
        WriteSettingsFile(configFile, "[DEFAULT]\n" + defaults);
    }
    std::string Events() const { return ReadFile(dir / "log/GLOBAL20261208.event.log"); }

    TempDir dir;
    std::string configFile = dir / "vantrel.cfg";
    test::FakeClock clock{EpochMillis(2026, 12, 8, 9, 15, 0)};
};

// The detail of the FIX::ConfigError thrown by `read`, or "" when none is.
template <typename Read>
std::string ConfigErrorOf(Read read) {
    try {
        read();
    } catch (const FIX::ConfigError& e) {
        return e.detail;
    }
    return "";
}

TEST_F(ConfigTest, ReadersConvertPresentKeysAndLeaveAbsentOnesAlone) {
    WriteConfig("MailSendMail=Y\nSMSSendSMS=N   \nLow=-2147483648\nHigh=2147483647\n"
                "MailSubject=Feed Alert\nMailSMTPSecurity=StartTLS \n");
    bool bYes = false;
    bool bNo = true;
    int32_t nLow = 0;
    int32_t nHigh = 0;
    std::string text;
    EXPECT_TRUE(GetConfigBool("mailsendmail", bYes) && GetConfigBool("SMSSendSMS", bNo));
    EXPECT_TRUE(GetConfigLong("Low", nLow) && GetConfigLong("High", nHigh));
    EXPECT_TRUE(GetConfigString("MailSubject", text));
    std::size_t nChoice = 0;
    EXPECT_TRUE(GetConfigChoice("MailSMTPSecurity", {"none", "starttls", "tls"}, nChoice));
    EXPECT_TRUE(bYes && !bNo && nLow == INT32_MIN && nHigh == INT32_MAX && text == "Feed Alert" && nChoice == 1);

    EXPECT_FALSE(GetConfigString("MailFile2Send", text) || GetConfigBool("MailSendErrors", bYes) ||
                 GetConfigLong("MailErrorsSeverityCode", nLow) || GetConfigChoice("MailSMTPAuth", {"login"}, nChoice));
    EXPECT_TRUE(bYes && nLow == INT32_MIN && text == "Feed Alert" && nChoice == 1);
}

TEST_F(ConfigTest, IllegalValuesNameTheValueAndTheKeyAsGiven) {
    WriteConfig("a=y\nb=Yes\nc=+5\nd=2147483648\ne=-2147483649\nf=-\ng=1 2\nh=ssl\ni=start tls\n");
    bool bValue = true;
    int32_t nValue = 25;
    std::size_t nChoice = 7;
    EXPECT_EQ(ConfigErrorOf([&] { GetConfigChoice("H", {"none", "tls"}, nChoice); }), "Illegal value ssl for H");
    EXPECT_EQ(ConfigErrorOf([&] { GetConfigChoice("i", {"starttls"}, nChoice); }), "Illegal value start tls for i");
    EXPECT_EQ(nChoice, 7u);
    EXPECT_EQ(ConfigErrorOf([&] { GetConfigBool("A", bValue); }), "Illegal value y for A");
    EXPECT_EQ(ConfigErrorOf([&] { LoadConfigBool("b", bValue); }), "Illegal value Yes for b");
    EXPECT_EQ(ConfigErrorOf([&] { GetConfigLong("c", nValue); }), "Illegal value +5 for c");
    for (const char* key : {"d", "e", "f", "g"}) {
        EXPECT_NE(ConfigErrorOf([&] { GetConfigLong(key, nValue); }), "") << key;
    }
    EXPECT_TRUE(bValue);
    EXPECT_EQ(nValue, 25);
}

TEST_F(ConfigTest, RequiredKeyAbsentThrowsCannotLoadByPointer) {
    WriteConfig("MailUseSimpleMAPI=N\n");
    bool bValue = true;
    LoadConfigBool("MailUseSimpleMAPI", bValue);
    EXPECT_FALSE(bValue);
    std::string text;
    try {
        LoadConfigString("MailAddressTo", text);
        ADD_FAILURE() << "no exception";
    } catch (FIX::Exception* pException) {
        std::unique_ptr<FIX::Exception> owner(pException);
        const std::string detail =
            "Cannot load parameter 'MailAddressTo' from config file '" + configFile + "'";
        EXPECT_EQ(owner->type, "Config Error");
        EXPECT_EQ(std::string(owner->what()), "Config Error: " + detail);
    }
}

TEST_F(ConfigTest, UnloadableFileFailsEveryRequestUntilAReadSucceeds) {
    const std::string notFound = "File \"" + configFile + "\" not found";
    std::string text;
    EXPECT_EQ(ConfigErrorOf([&] { GetConfigString("MailSubject", text); }), notFound);
    // A directory is there but is no settings file.
    std::filesystem::create_directory(configFile);
    EXPECT_EQ(ConfigErrorOf([&] { GetConfigDefaults(); }), "File \"" + configFile + "\" cannot be read: not a regular file");
    std::filesystem::remove(configFile);

    // An invalid file keeps nothing either.
    WriteConfig("MailSubject=first\n[MAIL]\nMailSendMail=N\n");
    EXPECT_EQ(ConfigErrorOf([&] { GetConfigString("MailSubject", text); }),
              "BeginString not defined");
    EXPECT_EQ(testing::ConfigLoadCount(), 0);

    WriteConfig("MailSubject=second\n");
    EXPECT_TRUE(GetConfigString("MailSubject", text) && text == "second");
    // Once read, the file is not read again.
    WriteConfig("MailSubject=third\n");
    EXPECT_TRUE(GetConfigString("MailSubject", text) && text == "second");
    EXPECT_EQ(testing::ConfigLoadCount(), 1);
}

// The file holds passwords and says where alerts go: the load that reads a
// file others can read or write says so once, with the fix, and uses the file
// all the same.
TEST_F(ConfigTest, AFileOthersCanReadOrWriteIsReportedOnceAndStillRead) {
    using std::filesystem::perms;
    const std::string readable = ") and may hold passwords; make it readable by";
    const std::string writable =
        ") and whoever writes it can send the alerts and their passwords elsewhere; make it writable by";
    const struct {
        perms mode;
        const char* octal;  // nullptr: no event
        std::string who;
        std::string rest;
    } cases[] = {
        {perms::owner_read | perms::owner_write, nullptr, "", ""},
        {perms::owner_read, nullptr, "", ""},
        {perms::owner_all | perms::group_read, "0740", "read", readable},
        {perms::owner_read | perms::owner_write | perms::others_read, "0604", "read", readable},
        {perms::owner_read | perms::owner_write | perms::group_write, "0620", "written", writable},
        {perms::owner_read | perms::owner_write | perms::others_write, "0602", "written", writable},
        {perms::owner_read | perms::owner_write | perms::others_read | perms::others_write, "0606", "read and written",
         ") and whoever writes it can send the alerts and their passwords elsewhere; make it readable and writable by"},
    };
    WriteConfig("MailSubject=kept\n");
    if (platform::FilePermissions(configFile) < 0) GTEST_SKIP() << "files carry no permission bits here (Windows)";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.octal ? c.octal : "private");
        testing::ResetFileLog();
        std::filesystem::remove_all(dir / "log");
        WriteConfig("MailSubject=kept\n");
        std::filesystem::permissions(configFile, c.mode);
        testing::ResetConfigStore();
        std::string text;
        EXPECT_TRUE(GetConfigString("MailSubject", text) && text == "kept");
        EXPECT_TRUE(GetConfigString("MailSubject", text));
        const std::string expected =
            c.octal == nullptr ? std::string()
                               : "[LR]<20261208-09:15:00, event>: GetConfigDefaults(): the settings file '" + configFile +
                                     "' can be " + c.who + " by group or others (mode " + c.octal + c.rest +
                                     " its owner only: chmod 600 '" + configFile + "'\n";
        EXPECT_EQ(test::FileExists(dir / "log") ? Events() : std::string(), expected);
        std::filesystem::permissions(configFile, std::filesystem::perms::owner_all);
    }
}

// Only a regular file of at most 1 MiB is read. Anything else is refused
// unread (a larger file is not read whole), and opening it never waits: a FIFO
// that nobody writes would otherwise hold every thread that logs an error.
// Each refusal is logged once, however often the file is tried.
TEST_F(ConfigTest, OnlyRegularFilesUpTo1MiBAreReadAndNothingElseIsWaitedFor) {
    const std::string settings = "[DEFAULT]\nMailSubject=kept\n";
    const auto padded = [&](std::size_t size) { return settings + std::string(size - settings.size(), '#'); };
    const auto refused = [](const std::string& path, const char* why) {
        return "File \"" + path + "\" cannot be read: " + why;
    };
    const std::string fifo = dir / "fifo.cfg";
    const struct {
        const char* name;
        std::string path;
        std::function<void()> make;
        std::string error;  // empty: read
    } cases[] = {
        {"exactly 1 MiB", configFile, [&] { WriteSettingsFile(configFile, padded(1024 * 1024)); }, ""},
        {"a byte more", configFile, [&] { WriteSettingsFile(configFile, padded(1024 * 1024 + 1)); },
         refused(configFile, "larger than 1 MiB")},
        {"256 MiB", configFile,
         [&] {
             WriteSettingsFile(configFile, settings);
             std::filesystem::resize_file(configFile, 256u << 20);
         },
         refused(configFile, "larger than 1 MiB")},
#if !defined(_WIN32)
        {"a FIFO nobody writes", fifo, [&] { ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0); },
         refused(fifo, "not a regular file")},
        {"a device", "/dev/null", [] {}, refused("/dev/null", "not a regular file")},
#endif
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(configFile);
        c.make();
        platform::SetEnvironment("VANTREL_CONFIG", c.path.c_str());
        testing::ResetConfigStore();
        testing::ResetFileLog();
        std::filesystem::remove_all(dir / "log");
        std::future<std::string> twice = std::async(std::launch::async, [] {
            std::string text;
            const std::string first = ConfigErrorOf([&] { GetConfigString("MailSubject", text); });
            return first + ConfigErrorOf([&] { GetConfigString("MailSubject", text); }) + text;
        });
        if (twice.wait_for(std::chrono::seconds(60)) != std::future_status::ready) {
            ADD_FAILURE() << "the read waits";
#if !defined(_WIN32)
            // A writer that comes and goes ends a wait on the FIFO.
            const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) ::close(fd);
#endif
        }
        EXPECT_EQ(twice.get(), c.error.empty() ? "kept" : c.error + c.error);
        const std::string event = "[LR]<20261208-09:15:00, event>: GetConfigDefaults(): " + c.error +
                                  "; every setting keeps its default\n";
        EXPECT_EQ(test::FileExists(dir / "log") ? Events() : "", c.error.empty() ? "" : event);
    }
    std::filesystem::remove(fifo);
}

TEST_F(ConfigTest, PathComesFromTheEnvironmentAndIsFixedAtFirstUse) {
    EXPECT_EQ(ConfigFilePath(), configFile);
    platform::SetEnvironment("VANTREL_CONFIG", "/elsewhere.cfg");
    EXPECT_EQ(ConfigFilePath(), configFile);

    platform::SetEnvironment("VANTREL_CONFIG", "");
    testing::ResetConfigStore();
    const std::string besideExecutable = platform::ExecutableDirectory() + "vantrel.cfg";
    EXPECT_EQ(ConfigFilePath(), besideExecutable);
    platform::UnsetEnvironment("VANTREL_CONFIG");
    testing::ResetConfigStore();
    EXPECT_EQ(ConfigFilePath(), besideExecutable);
}

TEST_F(ConfigTest, SettingHandlerSettlesOnceAndLogsAnAbsentKeyOnce) {
    WriteConfig("FlushFlag=Y\nflushflag2=N   \n");
    CCfgSettingHandler present("FlushFlag", false);
    CCfgSettingHandler lowerCase("FlushFlag2", true);
    EXPECT_TRUE(present.Get());
    EXPECT_FALSE(lowerCase.Get());
    EXPECT_FALSE(test::FileExists(dir / "log"));

    CCfgSettingHandler absent("FlushFlag3", false);
    CCfgSettingHandler absentTrue("FlushFlag4", true);
    EXPECT_FALSE(absent.Get());
    EXPECT_FALSE(absent.Get());
    EXPECT_TRUE(absentTrue.Get());
    EXPECT_EQ(Events(), AbsentEvent("FlushFlag3", "0") + AbsentEvent("FlushFlag4", "1"));

    // Settled values survive a new store reading another file.
    WriteConfig("FlushFlag=N\n");
    testing::ResetConfigStore();
    EXPECT_TRUE(present.Get());
}

TEST_F(ConfigTest, SettingHandlerKeepsItsDefaultSilentlyAndRetriesAfterFailures) {
    CCfgSettingHandler other("Other", true);
    CCfgSettingHandler flushFlag("FlushFlag", false);
    EXPECT_TRUE(other.Get());
    EXPECT_FALSE(flushFlag.Get());

    WriteConfig("FlushFlag=y\nOther=Yes\n");
    EXPECT_TRUE(other.Get());
    EXPECT_FALSE(flushFlag.Get());
    EXPECT_FALSE(test::FileExists(dir / "log"));

    // Neither has settled: each reads again once the file is loadable.
    WriteConfig("FlushFlag=Y\nOther=N\n");
    testing::ResetConfigStore();
    EXPECT_FALSE(other.Get());
    EXPECT_TRUE(flushFlag.Get());
    EXPECT_FALSE(test::FileExists(dir / "log"));
}

TEST_F(ConfigTest, ErrorsReadFlushFlagOnceAndLogItsAbsenceFirst) {
    OutputError2Log(3, "before the file exists");
    WriteConfig("MailSendMail=N\n");
    OutputError2Log(3, "x");
    OutputError2Log(2, "y");
    EXPECT_EQ(Events(),
              "[LR]<20261208-09:15:00, Error (3)>: before the file exists\n" +
                  AbsentEvent("FlushFlag", "0") +
                  "[LR]<20261208-09:15:00, Error (3)>: x\n"
                  "[LR]<20261208-09:15:00, Error (2)>: y\n");
}

TEST_F(ConfigTest, ConcurrentFirstRequestsLoadTheFileOnce) {
    WriteConfig("MailSMTPServerPortNo=2525\n");
    constexpr int kThreads = 8;
    std::atomic<int> ready{0};
    std::atomic<int> nWrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&ready, &nWrong, t] {
            ready.fetch_add(1);
            while (ready.load() < kThreads) {
            }
            // Half of the threads go through the log facade, which reads
            // FlushFlag and logs its absence while others hold the store.
            if (t % 2) {
                OutputError2Log(3, "t" + std::to_string(t));
            }
            int32_t nPort = 0;
            if (!GetConfigLong("MailSMTPServerPortNo", nPort) || nPort != 2525) {
                nWrong.fetch_add(1);
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(nWrong.load(), 0);
    EXPECT_EQ(testing::ConfigLoadCount(), 1);
    const std::string events = Events();
    const auto count = [&events](const std::string& what) {
        int n = 0;
        for (auto at = events.find(what); at != std::string::npos; at = events.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    const int nErrors = count("Error (3)");
    const int nEvents = count("'FlushFlag' setting is not present");
    EXPECT_EQ(nErrors, kThreads / 2);
    EXPECT_GE(nEvents, 1);
    EXPECT_LE(nEvents, kThreads / 2);
}

}  // namespace
}  // namespace vantrel
