// Mail alerts on Windows through the system's MAPI32.DLL. Under Wine that is
// Wine's own, which logs on to any profile and refuses to send when it has no
// mail client to hand the mail to (the test script switches that hand-off
// off, so that no test ever starts a mail program). With MAPI32.DLL itself
// switched off, the library does not load. The test checks the outcome the
// process it runs in has: ctest runs it both ways.
#include <windows.h>

#include "tests/notify/MailHandlerFixture.h"

namespace vantrel {
namespace test {
namespace {

bool SystemMapiLoads() {
    const HMODULE library = ::LoadLibraryA("MAPI32.DLL");
    if (library == nullptr) return false;
    ::FreeLibrary(library);
    return true;
}

TEST_F(MailHandlerFixture, ARefusedLoginGoesToTheSystemsSimpleMapi) {
    Restart((MapiSettings() + "MailSendErrors=Y\n").c_str());
    EXPECT_EQ(ServeLogin("#2 Login refused\r\n"), -1);
    vantrel::testing::ResetMailHandler();

    const std::vector<std::string> expected =
        SystemMapiLoads() ? std::vector<std::string>{kLoginRefusedError, kMapiLoaded,
                                                     "Warning: Failed to send e-mail using MAPISendMail function.",
                                                     "event: CMailHandler::Release(): MAPI DLL is released."}
                          : std::vector<std::string>{kLoginRefusedError, kMapiFailed};
    EXPECT_EQ(AlertLines(), expected);
}

}  // namespace
}  // namespace test
}  // namespace vantrel
