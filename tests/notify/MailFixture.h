// A test with its own log directory, started afresh by NewLog(), and helpers
// to read back what was logged. The alert handlers are set up aside first, so
// that the log holds only the test's own lines.
#pragma once

#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "log/LogFacade.h"
#include "tests/support/AlertHandlers.h"
#include "tests/support/EventLog.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace test {

class MailFixture : public ::testing::Test {
protected:
    void SetUp() override {
        SetUpAlertHandlersAside();
        NewLog();
    }

    void TearDown() override {
        vantrel::testing::ResetFileLog();
        platform::UnsetEnvironment("VANTREL_LOG_DIR");
    }

    // Points the log at a new, empty directory.
    void NewLog() {
        m_sLogDir = dir / ("log" + std::to_string(++m_nLogs));
        platform::SetEnvironment("VANTREL_LOG_DIR", m_sLogDir.c_str());
        vantrel::testing::ResetFileLog();
    }

    const std::string& LogDir() const { return m_sLogDir; }
    std::string LogText() const { return EventLogText(m_sLogDir); }
    std::vector<std::string> LogLines() const { return EventLogLines(m_sLogDir); }

    // The texts of the warnings logged, in order.
    std::vector<std::string> Warnings() const {
        std::vector<std::string> warnings;
        for (const std::string& line : LogLines()) {
            if (line.rfind("Warning: ", 0) == 0) warnings.push_back(line.substr(9));
        }
        return warnings;
    }

    std::size_t CountLogLines(const std::string& line) const {
        std::size_t n = 0;
        for (const std::string& l : LogLines()) n += l == line;
        return n;
    }

    TempDir dir;

private:
    std::string m_sLogDir;
    int m_nLogs = 0;
};

}  // namespace test
}  // namespace vantrel
