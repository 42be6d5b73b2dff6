// The password, in each form a login sends it, is cut out of server text.
#include "notify/PasswordRedaction.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using namespace std::string_literals;

TEST(PasswordRedaction, EveryFormOfThePasswordIsCutOutAndNothingElse) {
    // User "alerts", password "Sm7p-Pa55": base64 "U203cC1QYTU1"; AUTH PLAIN
    // "\0alerts\0Sm7p-Pa55" is "AGFsZXJ0cwBTbTdwLVBhNTU=".
    const struct {
        const char* name;
        std::string text;
        std::string user, password;
        std::string expected;
    } cases[] = {
        {"no password in the text", "535 5.7.8 Authentication failed", "alerts", "Sm7p-Pa55",
         "535 5.7.8 Authentication failed"},
        {"plain", "535 bad password Sm7p-Pa55 for alerts", "alerts", "Sm7p-Pa55", "535 bad password **** for alerts"},
        {"AUTH LOGIN's base64", "535 bad credentials: U203cC1QYTU1", "alerts", "Sm7p-Pa55",
         "535 bad credentials: ****"},
        {"AUTH PLAIN's base64 with its padding", "501 AGFsZXJ0cwBTbTdwLVBhNTU= rejected", "alerts", "Sm7p-Pa55",
         "501 **** rejected"},
        {"AUTH PLAIN's base64 without padding", "501 AGFsZXJ0cwBTbTdwLVBhNTU", "alerts", "Sm7p-Pa55", "501 ****"},
        {"AUTH PLAIN decoded, NUL bytes and all", "535 got \0alerts\0Sm7p-Pa55!"s, "alerts", "Sm7p-Pa55",
         "535 got ****!"},
        {"padding of a base64 form goes with it", "535 cGFzcw== x", "u", "pass", "535 **** x"},
        {"every occurrence, on every line", "535-Sm7p-Pa55\r\n535 Sm7p-Pa55", "alerts", "Sm7p-Pa55",
         "535-****\r\n535 ****"},
        {"overlapping occurrences become one", "535 aaaa", "u", "aaa", "535 ****"},
        {"the user name alone stays", "535 user alerts unknown", "alerts", "Sm7p-Pa55", "535 user alerts unknown"},
        {"an empty password removes nothing", "535 U203cC1QYTU1", "alerts", "", "535 U203cC1QYTU1"},
        {"empty text", "", "alerts", "Sm7p-Pa55", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(RedactPassword(c.text, c.user, c.password), c.expected);
    }
}

}  // namespace
}  // namespace vantrel
