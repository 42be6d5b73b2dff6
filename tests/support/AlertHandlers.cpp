#include "tests/support/AlertHandlers.h"

#include <cstdlib>
#include <string>

#include "config/Config.h"
#include "log/LogFacade.h"
#include "notify/MailHandler.h"
#include "notify/SMSHandler.h"
#include "platform/FileSystem.h"
#include "tests/support/TempDir.h"

namespace vantrel {
namespace test {
namespace {

// Sets `name` to `value` until destroyed, then restores it.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const std::string& value)
        : m_name(name), m_bWasSet(std::getenv(name) != nullptr), m_old(platform::GetEnvironment(name)) {
        platform::SetEnvironment(name, value);
    }
    ~ScopedEnvironment() {
        if (m_bWasSet) {
            platform::SetEnvironment(m_name, m_old);
        } else {
            platform::UnsetEnvironment(m_name);
        }
    }

private:
    const char* m_name;
    bool m_bWasSet;
    std::string m_old;
};

}  // namespace

void SetUpAlertHandlersAside() {
    TempDir scratch;
    {
        ScopedEnvironment log("VANTREL_LOG_DIR", scratch / "log");
        ScopedEnvironment config("VANTREL_CONFIG", scratch / "absent.cfg");
        vantrel::testing::ResetFileLog();
        vantrel::testing::ResetConfigStore();
        GetSMSHandler();
        GetMailHandler();
        vantrel::testing::ResetFileLog();
    }
    vantrel::testing::ResetConfigStore();
}

}  // namespace test
}  // namespace vantrel
