// SMS alerts through the shared library a host loads: an error the library
// logs on its own reaches the gateway, and unloading the library releases
// the gateway and unloads the plug-in.
#include <dlfcn.h>

#include <regex>

#include "tests/notify/LoadedLibrary.h"
#include "tests/notify/SmsFixture.h"

namespace vantrel {
namespace test {
namespace {

TEST_F(SmsFixture, RefusedLoginReachesTheGatewayAndUnloadReleasesIt) {
    Restart((std::string(kSmsAccount) + "SMSToMobileNumber=+4411\nSMSSendErrors=Y\n").c_str());
    LoadedLibrary library;
    ASSERT_EQ(library.Login(server, "#2 Login refused\r\n"), -1);

    std::vector<std::string> calls = Calls();
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_EQ(calls[0], kCreated);
    EXPECT_TRUE(std::regex_match(
        calls[1], std::regex(std::string("send\\|api-7\\|ops\\|") + kSmsPassword +
                             "\\|\\+4411\\|<\\d{8}-\\d\\d:\\d\\d:\\d\\d, Error \\(2\\)>: "
                             "StartQuotesThread\\(\\): login failed \\[login:password fields\\]\\.")))
        << calls[1];

    ASSERT_TRUE(library.Unload()) << "library still loaded";
    EXPECT_EQ(::dlopen(VANTREL_RECORDING_GATEWAY, RTLD_NOW | RTLD_NOLOAD), nullptr) << "plug-in still loaded";
    EXPECT_EQ(Calls().back(), "release");
    // Released while the library's log was still open.
    EXPECT_EQ(LogLines().back(), "event: CSMSHandler::Release(): SMS gateway is released.");
}

}  // namespace
}  // namespace test
}  // namespace vantrel
