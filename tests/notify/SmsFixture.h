// SMS alerts end to end inside the test process: a settings file, the
// recording gateway (the plug-in tests/notify/recording_gateway.c; on Windows
// the COM server tests/notify/recording_com_gateway.c, registered for the
// test) and the log facade. The settings store and the SMS handler are set up
// once per process; Restart() starts both over, as a new process would.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include "config/Config.h"
#include "notify/SMSHandler.h"
#include "tests/api/SessionFixture.h"
#if defined(_WIN32)
#include "tests/notify/GatewayRegistration.h"
#endif

namespace vantrel {
namespace test {

// Settings that switch SMS alerts on, without the numbers and switches.
constexpr const char* kSmsAccount = "FlushFlag=N\nSMSSendSMS=Y\nSMSAPIID=api-7\nSMSUsername=ops\nSMSPassword=S3cret-sms\n";
constexpr const char* kSmsPassword = "S3cret-sms";

// The lines a recording plug-in wrote to `path` (tab-separated fields, texts
// with backslash, tab and line feed escaped), fields joined by "|" and texts
// unescaped.
inline std::vector<std::string> RecordedCalls(const std::string& path) {
    std::vector<std::string> calls;
    for (const std::string& line : ReadLines(path)) {
        std::string call;
        for (std::string::size_type i = 0; i < line.size(); ++i) {
            if (line[i] == '\\' && i + 1 < line.size()) {
                const char c = line[++i];
                call += c == 't' ? '\t' : c == 'n' ? '\n' : c;
            } else {
                call += line[i] == '\t' ? '|' : line[i];
            }
        }
        calls.push_back(call);
    }
    return calls;
}

class SmsFixture : public SessionFixture {
protected:
    void SetUp() override {
        SessionFixture::SetUp();
        platform::SetEnvironment("VANTREL_CONFIG", configFile.c_str());
#if defined(_WIN32)
        ASSERT_TRUE(RegisterGatewayServer(VANTREL_RECORDING_GATEWAY));
#else
        platform::SetEnvironment("VANTREL_SMS_GATEWAY", VANTREL_RECORDING_GATEWAY);
#endif
        platform::SetEnvironment("VANTREL_TEST_SMS_RECORD", recordFile.c_str());
        for (const char* name : kControls) platform::UnsetEnvironment(name);
        vantrel::testing::ResetConfigStore();
        ResetHandlers();
    }

    void TearDown() override {
        ResetHandlers();
        EXPECT_EQ(LogText().find(kSmsPassword), std::string::npos) << "the SMS password reached the log";
        for (const char* name : kControls) platform::UnsetEnvironment(name);
#if defined(_WIN32)
        EXPECT_TRUE(UnregisterGatewayServer());
#else
        platform::UnsetEnvironment("VANTREL_SMS_GATEWAY");
#endif
        platform::UnsetEnvironment("VANTREL_TEST_SMS_RECORD");
        platform::UnsetEnvironment("VANTREL_CONFIG");
        vantrel::testing::ResetConfigStore();
        SessionFixture::TearDown();
    }

    // Releases the handlers under test and arms their set-up again.
    virtual void ResetHandlers() { vantrel::testing::ResetSMSHandler(); }

    // Writes the [DEFAULT] section (nullptr: no settings file at all) and
    // starts the settings, the handler, the log and the record afresh.
    void Restart(const char* defaults) {
        ResetHandlers();
        vantrel::testing::ResetFileLog();
        std::filesystem::remove(configFile);
        std::filesystem::remove(recordFile);
        for (const auto& entry : std::filesystem::directory_iterator(logDir.path())) {
            std::filesystem::remove(entry.path());
        }
        if (defaults != nullptr) WriteSettingsFile(configFile, std::string("[DEFAULT]\n") + defaults);
        vantrel::testing::ResetConfigStore();
    }

    // Sets a recording plug-in's control, given as "NAME=value".
    static void SetControl(const std::string& control) {
        const std::string::size_type at = control.find('=');
        platform::SetEnvironment(control.substr(0, at).c_str(), control.substr(at + 1));
    }

    // The recording gateway's lines, texts unescaped.
    std::vector<std::string> Calls() const { return RecordedCalls(recordFile); }

    // Starts afresh with `settings` ("-": no settings file), the environment
    // variable `plugin` naming `path` (nullptr: unset; no `plugin`: left as
    // it is) and the recording plug-in's `control` ("NAME=value", or ""),
    // then logs the first warning ("w1", which sets the handlers up) and an
    // error ("e1"). Returns the log lines expected when the set-up logged
    // `setUpLines`.
    std::vector<std::string> LogFirstAlerts(const std::string& settings, const char* plugin, const char* path,
                                            const char* control, const std::vector<std::string>& setUpLines) {
        Restart(settings == "-" ? nullptr : settings.c_str());
        if (plugin != nullptr && path != nullptr) {
            platform::SetEnvironment(plugin, path);
        } else if (plugin != nullptr) {
            platform::UnsetEnvironment(plugin);
        }
        if (*control != '\0') SetControl(control);

        OutputWarning2Log("w1");
        OutputError2Log(1, "e1");

        std::vector<std::string> expected = {"Warning: w1"};
        expected.insert(expected.end(), setUpLines.begin(), setUpLines.end());
        expected.push_back("Error (1): e1");
        return expected;
    }

    // The alert texts sent, in order: the sixth field of each send (the COM
    // gateway records its apartment after it).
    std::vector<std::string> SentTexts() const {
        std::vector<std::string> texts;
        for (std::string call : Calls()) {
            if (call.rfind("send|", 0) != 0) continue;
            for (int i = 0; i < 5; ++i) call.erase(0, call.find('|') + 1);
#if defined(_WIN32)
            call.erase(call.rfind('|'));
#endif
            texts.push_back(call);
        }
        return texts;
    }

    static constexpr const char* kControls[] = {"VANTREL_TEST_SMS_REFUSE", "VANTREL_TEST_SMS_LAYOUT",
                                                "VANTREL_TEST_SMS_BLOCK_MS", "VANTREL_TEST_SMS_GATE"};
    static constexpr const char* kCreated =
        "create|{231CD7E4-908C-45C0-B357-34FE860BED1D}|{EEFFA403-0DD7-4D83-A9ED-CA22DAD7C388}|1|accepted";

    TempDir dir;
    std::string configFile = dir / "vantrel.cfg";
    std::string recordFile = dir / "gateway.record";
    FakeClock clock{EpochMillis(2026, 12, 8, 9, 15, 0)};
};

}  // namespace test
}  // namespace vantrel
