// Faults of the file system under the log: the log directory removed, or
// made read-only, while the library logs. Every call returns at once, lines
// that cannot be written are dropped, and logging resumes with the first line
// once the directory is writable again (a file that failed to open is tried
// again at most once a second).
//
// Tests run as root, for whom permission bits change nothing, so a directory
// is made read-only with a read-only bind mount in a private mount namespace;
// where namespaces are not available the tests are skipped.
#include <sched.h>
#include <sys/mount.h>

#include <filesystem>

#include <gtest/gtest.h>

#include "log/LogFacade.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace test {
namespace {

// Moves this thread (and the threads it starts later) into a mount namespace
// of its own, once per process. False where that is not allowed.
bool PrivateMounts() {
    static const bool bPrivate = ::unshare(CLONE_NEWNS) == 0 &&
                                 ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    return bPrivate;
}

// `path` seen read-only while the object lives. Files opened before stay
// writable, as they would on a real file system remounted that way.
class ReadOnly {
public:
    explicit ReadOnly(const std::string& path) : m_path(path) {
        m_bMounted = ::mount(path.c_str(), path.c_str(), nullptr, MS_BIND, nullptr) == 0;
        m_bReadOnly = m_bMounted &&
                      ::mount(nullptr, path.c_str(), nullptr, MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
    }
    ~ReadOnly() { Undo(); }
    bool ok() const { return m_bReadOnly; }
    void Undo() {
        if (m_bMounted) ::umount2(m_path.c_str(), MNT_DETACH);
        m_bMounted = false;
    }

private:
    std::string m_path;
    bool m_bMounted = false;
    bool m_bReadOnly = false;
};

class LogDirectoryFault : public ::testing::Test {
protected:
    void SetUp() override {
        if (!PrivateMounts()) GTEST_SKIP() << "mount namespaces are not available";
        vantrel::testing::ResetFileLog();
        ::setenv("VANTREL_LOG_DIR", logDir.c_str(), 1);
    }
    void TearDown() override {
        vantrel::testing::ResetFileLog();
        ::unsetenv("VANTREL_LOG_DIR");
    }
    std::string EventFile(const char* date) const { return logDir + "/GLOBAL" + date + ".event.log"; }
    std::string Events(const char* date) const {
        return FileExists(EventFile(date)) ? ReadFile(EventFile(date)) : std::string();
    }
    static bool Holds(const std::string& text, const char* line) { return text.find(line) != std::string::npos; }

    TempDir parent;
    const std::string logDir = parent / "REVar";
    FakeClock clock{EpochMillis(2026, 12, 8, 23, 59, 0)};
};

TEST_F(LogDirectoryFault, DirectoryRemovedWhileLogging) {
    OutputEvent2Log("line one");
    ASSERT_TRUE(Holds(Events("20261208"), "line one"));
    std::filesystem::remove_all(logDir);
    OutputEvent2Log("line two");
    OutputError2Log(3, "line three");
    EXPECT_TRUE(Holds(Events("20261208"), "line two"));
    EXPECT_TRUE(Holds(Events("20261208"), "line three"));
}

TEST_F(LogDirectoryFault, DirectoryRemovedUnderAReadOnlyParent) {
    OutputEvent2Log("line one");
    std::filesystem::remove_all(logDir);
    {
        ReadOnly readOnly(parent.path());
        ASSERT_TRUE(readOnly.ok());
        OutputEvent2Log("line two");
        OutputWarning2Log("line three");
        EXPECT_FALSE(FileExists(logDir));
    }
    clock.set(EpochMillis(2026, 12, 8, 23, 59, 1));
    OutputEvent2Log("line four");
    const std::string events = Events("20261208");
    EXPECT_FALSE(Holds(events, "line two"));
    EXPECT_TRUE(Holds(events, "line four"));
}

TEST_F(LogDirectoryFault, DirectoryReadOnlyWhenTheDateChanges) {
    OutputEvent2Log("line one");
    {
        ReadOnly readOnly(logDir);
        ASSERT_TRUE(readOnly.ok());
        OutputEvent2Log("line two");  // the open file still takes it
        clock.set(EpochMillis(2026, 12, 9, 0, 0, 1));
        OutputEvent2Log("line three");  // no file for the new day can be made
        OutputError2Log(2, "line four");
        EXPECT_FALSE(FileExists(EventFile("20261209")));
    }
    clock.set(EpochMillis(2026, 12, 9, 0, 0, 2));
    OutputEvent2Log("line five");
    EXPECT_TRUE(Holds(Events("20261208"), "line one"));
    EXPECT_TRUE(Holds(Events("20261208"), "line two"));
    const std::string next = Events("20261209");
    EXPECT_FALSE(Holds(next, "line three"));
    EXPECT_TRUE(Holds(next, "line five"));
}

}  // namespace
}  // namespace test
}  // namespace vantrel
