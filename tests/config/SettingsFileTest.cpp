#include "config/SettingsFile.h"

#include <sstream>

#include <gtest/gtest.h>
#include <quickfix/Exceptions.h>

namespace vantrel {
namespace {

ConfigDictionary Parse(const std::string& text) {
    std::istringstream in(text);
    return ParseSettings(in);
}

// The detail of the FIX::ConfigError that parsing throws, or "" when it loads.
std::string ParseError(const std::string& text) {
    try {
        Parse(text);
    } catch (const FIX::ConfigError& e) {
        EXPECT_EQ(std::string(e.what()), "Configuration failed: " + e.detail);
        return e.detail;
    }
    return "";
}

std::string ValueOf(const ConfigDictionary& d, const std::string& key) {
    const std::string* value = d.Find(key);
    return value ? *value : "<undefined>";
}

TEST(SettingsFile, KeysIgnoreCaseValuesKeepCaseAndLoseSurroundingBlanks) {
    const ConfigDictionary d = Parse(
        "[DEFAULT]\r\n"
        "  flushflag = N  \t\r\n"
        "MailSubject=Quote Feed  Alert \n"
        "MailPassword=a=b\n"
        "Blank=   \n"
        "Empty=\n"
        "# MailSendMail=Y\n"
        "no equals sign\n"
        "=no key\n");
    EXPECT_EQ(ValueOf(d, "FlushFlag"), "N");
    EXPECT_EQ(ValueOf(d, "FLUSHFLAG"), "N");
    EXPECT_EQ(ValueOf(d, "mailsubject"), "Quote Feed  Alert");
    EXPECT_EQ(ValueOf(d, "MailPassword"), "a=b");
    EXPECT_EQ(d.Find("Blank"), nullptr);
    EXPECT_EQ(d.Find("Empty"), nullptr);
    EXPECT_EQ(d.Find("MailSendMail"), nullptr);
    EXPECT_EQ(d.Size(), 3u);

    // A later blank value undefines the key as well.
    EXPECT_EQ(Parse("[DEFAULT]\nA=1\nA= \n").Find("A"), nullptr);
}

TEST(SettingsFile, OnlyTheFirstDefaultSectionCounts) {
    const ConfigDictionary d = Parse(
        "Stray=1\n"
        "[DEFAULT]\n"
        "A=first\n"
        "[DEFAULT]\n"
        "A=second\n"
        "B=2\n");
    EXPECT_EQ(ValueOf(d, "A"), "first");
    EXPECT_EQ(d.Find("B"), nullptr);
    EXPECT_EQ(d.Find("Stray"), nullptr);
    EXPECT_EQ(Parse("").Size(), 0u);
    EXPECT_EQ(Parse("A=1\n").Size(), 0u);
}

TEST(SettingsFile, SessionSectionsAreValidated) {
    const std::string session =
        "BeginString=FIX.4.4\nSenderCompID=S\nTargetCompID=T\nConnectionType=initiator\n";
    // Without a [SESSION] section every other section is a session.
    EXPECT_EQ(ParseError("[DEFAULT]\nFlushFlag=Y\n[MAIL]\nMailSendMail=N\n"),
              "BeginString not defined");
    EXPECT_EQ(ParseError("[DEFAULT]\n[MAIL]\n" + session), "");
    // With one, the other sections are not validated.
    EXPECT_EQ(ParseError("[DEFAULT]\n[MAIL]\nX=1\n[SESSION]\n" + session), "");
    EXPECT_EQ(ParseError("[SESSION]\n" + session + "[SESSION]\nBeginString=FIX.4.0\n"),
              "SenderCompID not defined");
    // A session lacking a key, or with a blank one, takes it from [DEFAULT].
    EXPECT_EQ(ParseError("[DEFAULT]\nBeginString=FIX.4.2\nConnectionType=acceptor\n"
                         "[SESSION]\nBeginString= \nSenderCompID=S\nTargetCompID=T\n"),
              "");
    EXPECT_EQ(ParseError("[SESSION]\nBeginString=FIX.4.4\nSenderCompID=S\n"),
              "TargetCompID not defined");
    EXPECT_EQ(ParseError("[SESSION]\nBeginString=FIXT.1.1\nSenderCompID=S\nTargetCompID=T\n"),
              "BeginString must be FIX.4.0 to FIX.4.4");
    EXPECT_EQ(ParseError("[SESSION]\nBeginString=FIX.4.1\nSenderCompID=S\nTargetCompID=T\n"),
              "ConnectionType not defined");
    EXPECT_EQ(ParseError("[SESSION]\nBeginString=FIX.4.3\nSenderCompID=S\nTargetCompID=T\n"
                         "ConnectionType=Initiator\n"),
              "ConnectionType must be 'initiator' or 'acceptor'");
}

}  // namespace
}  // namespace vantrel
