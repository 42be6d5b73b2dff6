// The text logged when the credentials cannot be sent never shows the
// password, wherever the send stopped.
#include "feed/SocketText.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(SocketText, UnsentRemainderHidesTheSecret) {
    const std::string text = "user\r\npass\r\n";
    const SecretSpan secret{6, 10};
    EXPECT_EQ(MaskedRemainder(text, 0, secret), "user\r\n********\r\n");
    EXPECT_EQ(MaskedRemainder(text, 5, secret), "\n********\r\n");
    EXPECT_EQ(MaskedRemainder(text, 8, secret), "********\r\n");  // part of it sent
    EXPECT_EQ(MaskedRemainder(text, 10, secret), "\r\n");
    EXPECT_EQ(MaskedRemainder(text, 12, secret), "");
    EXPECT_EQ(MaskedRemainder("user\r\n\r\n", 0, SecretSpan{6, 6}), "user\r\n\r\n");
}

}  // namespace
}  // namespace vantrel
