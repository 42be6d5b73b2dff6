// Mail alerts through the shared library a host loads: each load starts with
// no mail handler, no settings read and no mail thread.
#include <sys/stat.h>

#include <algorithm>
#include <regex>

#include "tests/notify/LoadedLibrary.h"
#include "tests/notify/MailHandlerFixture.h"

namespace vantrel {
namespace test {
namespace {

using LogoffFunction = int (*)();

// The position of `line` in `lines`, or their number.
std::size_t At(const std::vector<std::string>& lines, const std::string& line) {
    return static_cast<std::size_t>(std::find(lines.begin(), lines.end(), line) - lines.begin());
}

// An error the library logs on its own, a refused login, arrives as a mail.
// The first set-up releases the mail queue before anything has taken it
// (count 0), takes it and starts the mail thread; unload stops the thread
// before it releases the transport.
TEST_F(MailHandlerFixture, RefusedLoginThroughTheSharedLibraryArrivesAsAMail) {
    Restart((SmtpSettings("ops1@example.org;ops2@example.org") + "MailSubject=Quotes feed alert\nMailSendErrors=Y\n")
                .c_str());
    LoadedLibrary library;
    ASSERT_EQ(library.Login(server, "#2 Login refused\r\n"), -1);

    ASSERT_TRUE(Smtp().WaitForMails(1));
    const ReceivedMail mail = Smtp().Mails().front();
    EXPECT_TRUE(std::regex_match(FromHex(mail.First("body_hex")),
                                 std::regex("<\\d{8}-\\d\\d:\\d\\d:\\d\\d, Error \\(2\\)>: "
                                            "StartQuotesThread\\(\\): login failed \\[login:password fields\\]\\.")))
        << FromHex(mail.First("body_hex"));
    EXPECT_EQ(mail.Header("Subject"), "Quotes feed alert");
    EXPECT_EQ(mail.All("rcpt_to"), (std::vector<std::string>{"ops1@example.org", "ops2@example.org"}));
    EXPECT_EQ(mail.First("mail_from"), "feed@example.org");

    ASSERT_TRUE(library.Unload()) << "library still loaded";
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

// Without a warning or error nothing of the mail side runs: no handler and no
// mail thread (either would log). The settings are read by Login (for the
// quote store and the feed) and nothing else: the file readable by others is reported
// once, and FlushFlag is never read.
TEST_F(MailHandlerFixture, WithoutAnAlertTheSharedLibraryRunsNothingOfTheMailSide) {
    Restart((SmtpSettings() + kMailSendAll).c_str());
    ASSERT_EQ(::chmod(configFile.c_str(), 0644), 0);

    LoadedLibrary library;
    ASSERT_EQ(library.Login(server, kGranted), 1);
    ASSERT_EQ(library.Entry<LogoffFunction>("Logoff")(), 1);
    ASSERT_TRUE(library.Unload());

    int nSettingsNotes = 0;
    for (const std::string& line : LogLines()) {
        EXPECT_EQ(line.rfind("event: ", 0), 0u) << line;
        for (const char* part : {"CMail", "StartMailRequestsThread", "FlushFlag"}) {
            EXPECT_EQ(line.find(part), std::string::npos) << line;
        }
        nSettingsNotes += line.find("GetConfigDefaults") != std::string::npos;
    }
    EXPECT_EQ(nSettingsNotes, 1);
    EXPECT_TRUE(HasLogLine("event: Login() is finished.")) << LogText();
}

}  // namespace
}  // namespace test
}  // namespace vantrel
