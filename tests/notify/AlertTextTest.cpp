#include "notify/AlertText.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(AlertText, BodiesCarryTheUtcStampTheCodeAndTheTextUnchanged) {
    const UtcTime when = UtcTime::FromEpochMillis(1733692800123);  // 2024-12-08 21:20:00.123
    EXPECT_EQ(ErrorAlertBody(3, "x", when), "<20241208-21:20:00, Error (3)>: x");
    EXPECT_EQ(ErrorAlertBody(4294967295u, "", when), "<20241208-21:20:00, Error (4294967295)>: ");
    EXPECT_EQ(WarningAlertBody("a=b\r\n", when), "<20241208-21:20:00, Warning>: a=b\r\n");
}

TEST(AlertText, ListsSplitOnRunsOfSeparatorsAndDropEmptyTokens) {
    const struct {
        const char* list;
        std::vector<std::string> tokens;
    } cases[] = {
        {"", {}},
        {" ,;\t\n", {}},
        {"a@x", {"a@x"}},
        {"a@x; b@x,,c@x", {"a@x", "b@x", "c@x"}},
        {"\t+4411\n+4422 ", {"+4411", "+4422"}},
    };
    for (const auto& c : cases) EXPECT_EQ(SplitAlertList(c.list), c.tokens) << c.list;
}

}  // namespace
}  // namespace vantrel
