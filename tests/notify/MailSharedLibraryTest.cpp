// Mail alerts through the shared library a host loads: each load starts with
// no mail handler, no settings read and no mail thread.
#include <dirent.h>
#include <dlfcn.h>
#include <sys/stat.h>

#include <algorithm>
#include <regex>

#include "tests/notify/MailHandlerFixture.h"

namespace vantrel {
namespace test {
namespace {

using LoginFunction = int (*)(const char*, int, const char*, const char*);
using LogoffFunction = int (*)();

std::size_t ThreadCount() {
    std::size_t n = 0;
    if (DIR* tasks = ::opendir("/proc/self/task")) {
        while (const dirent* entry = ::readdir(tasks)) n += entry->d_name[0] != '.';
        ::closedir(tasks);
    }
    return n;
}

class MailSharedLibraryTest : public MailHandlerFixture {
protected:
    void TearDown() override {
        if (m_pLibrary != nullptr) ::dlclose(m_pLibrary);
        MailHandlerFixture::TearDown();
    }

    void* Load() {
        m_pLibrary = ::dlopen(VANTREL_SHARED_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(m_pLibrary, nullptr) << ::dlerror();
        return m_pLibrary;
    }

    bool Unload() {
        const bool bClosed = ::dlclose(m_pLibrary) == 0;
        m_pLibrary = nullptr;
        return bClosed && ::dlopen(VANTREL_SHARED_LIBRARY, RTLD_NOW | RTLD_NOLOAD) == nullptr;
    }

    // Runs the library's Login against the test's quotes server, which
    // answers `verdict`.
    int LoginThrough(void* library, const char* verdict) {
        const auto login = reinterpret_cast<LoginFunction>(::dlsym(library, "Login"));
        EXPECT_NE(login, nullptr);
        std::future<int> result = std::async(std::launch::async, [&] {
            return login("127.0.0.1", server.port(), kLogin, kPassword);
        });
        std::string line;
        EXPECT_TRUE(server.Accept() && server.ReadLine(line) && server.ReadLine(line));
        EXPECT_TRUE(server.Send(verdict));
        return result.get();
    }

    // The position of `line` in the log, or the log's size.
    std::size_t At(const std::vector<std::string>& lines, const std::string& line) const {
        return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
    }

private:
    void* m_pLibrary = nullptr;
};

// An error the library logs on its own, a refused login, arrives as a mail.
// The first set-up releases the mail queue before anything has taken it
// (count 0), takes it and starts the mail thread; unload stops the thread
// before it releases the transport.
TEST_F(MailSharedLibraryTest, RefusedLoginArrivesAsAMail) {
    Restart((SmtpSettings("ops1@example.org;ops2@example.org") + "MailSubject=Quotes feed alert\nMailSendErrors=Y\n")
                .c_str());
    void* library = Load();
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(LoginThrough(library, "#2 Login refused\r\n"), -1);

    ASSERT_TRUE(Smtp().WaitForMails(1));
    const ReceivedMail mail = Smtp().Mails().front();
    EXPECT_TRUE(std::regex_match(FromHex(mail.First("body_hex")),
                                 std::regex("<\\d{8}-\\d\\d:\\d\\d:\\d\\d, Error \\(2\\)>: "
                                            "StartQuotesThread\\(\\): login failed \\[login:password fields\\]\\.")))
        << FromHex(mail.First("body_hex"));
    EXPECT_EQ(mail.Header("Subject"), "Quotes feed alert");
    EXPECT_EQ(mail.All("rcpt_to"), (std::vector<std::string>{"ops1@example.org", "ops2@example.org"}));
    EXPECT_EQ(mail.First("mail_from"), "feed@example.org");

    ASSERT_TRUE(Unload()) << "library still loaded";
    const std::vector<std::string> lines = LogLines();
    const std::size_t error = At(lines, "Error (2): StartQuotesThread(): login failed [login:password fields].");
    const std::size_t released = At(lines, "event: CMailRequestsContainer::Release(): m_nRefsCnt = 0");
    const std::size_t taken = At(lines, "event: CMailRequestsContainer::AddRef(): m_nRefsCnt = 1");
    const std::size_t connected = At(lines, "event: CMailHandler::Init(): SMTP server is connected");
    const std::size_t finished = At(lines, "event: StartMailRequestsThread(): Thread is finished.");
    const std::size_t disconnected = At(lines, "event: CMailHandler::Release(): SMTP server is disconnected");
    EXPECT_LT(error, released) << LogText();
    EXPECT_LT(released, taken);
    EXPECT_LT(taken, connected);
    EXPECT_LT(finished, disconnected);
    EXPECT_LT(disconnected, lines.size());
}

// Without a warning or error nothing of the mail side runs: no handler, no
// settings read (a file readable by others would have been reported when
// read) and no mail thread.
TEST_F(MailSharedLibraryTest, WithoutAnAlertNothingOfTheMailSideRuns) {
    Restart((SmtpSettings() + kMailSendAll).c_str());
    ASSERT_EQ(::chmod(configFile.c_str(), 0644), 0);
    const std::size_t nThreads = ThreadCount();

    void* library = Load();
    ASSERT_NE(library, nullptr);
    ASSERT_EQ(LoginThrough(library, kGranted), 1);
    const auto logoff = reinterpret_cast<LogoffFunction>(::dlsym(library, "Logoff"));
    ASSERT_NE(logoff, nullptr);
    ASSERT_EQ(logoff(), 1);
    EXPECT_TRUE(WaitUntil([&] { return ThreadCount() == nThreads; })) << ThreadCount() << " threads";
    ASSERT_TRUE(Unload());

    for (const std::string& line : LogLines()) {
        EXPECT_EQ(line.rfind("event: ", 0), 0u) << line;
        for (const char* part : {"CMail", "StartMailRequestsThread", "GetConfigDefaults", "FlushFlag"}) {
            EXPECT_EQ(line.find(part), std::string::npos) << line;
        }
    }
    EXPECT_TRUE(HasLogLine("event: Login() is finished.")) << LogText();
}

}  // namespace
}  // namespace test
}  // namespace vantrel
