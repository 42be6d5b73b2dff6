// A Boolean setting read once from the [DEFAULT] keys of the settings file,
// with a default for when the key is absent.
#pragma once

#include <atomic>

namespace vantrel {

class CCfgSettingHandler;

namespace testing {
// Returns the handler to its state after construction. Only for tests.
void ResetSettingHandler(CCfgSettingHandler& handler) noexcept;
}  // namespace testing

class CCfgSettingHandler {
public:
    // `szName` must outlive the handler (a string literal). The constructor is
    // constexpr so that a handler at namespace scope is ready before any code
    // of the library runs and needs no destruction.
    constexpr CCfgSettingHandler(const char* szName, bool bDefault) noexcept
        : m_szName(szName), m_bLoaded(false), m_bDefault(bDefault), m_bValue(bDefault) {}

    CCfgSettingHandler(const CCfgSettingHandler&) = delete;
    CCfgSettingHandler& operator=(const CCfgSettingHandler&) = delete;

    // The setting's value. The first call that can read the settings file
    // settles it for good: the value read, or the default when the key is
    // absent, in which case the event "'<name>' setting is not present in
    // [DEFAULT] session of config file; using default value = 0" (or 1) is
    // logged. While the file cannot be read, or holds an illegal value for the
    // key, the default is returned silently and the next call tries again.
    //
    // Takes no lock: threads that call it at the same time may each read the
    // file and, when the key is absent, each log the event; they all settle on
    // the same value.
    bool Get() noexcept;

private:
    friend void testing::ResetSettingHandler(CCfgSettingHandler& handler) noexcept;

    const char* const m_szName;
    // Written after m_bValue; a reader that sees it set sees the value read.
    std::atomic<bool> m_bLoaded;
    const bool m_bDefault;
    std::atomic<bool> m_bValue;
};

// The process-wide "FlushFlag" setting (default false): whether an error line
// is flushed to the log file.
CCfgSettingHandler& FlushFlagSetting() noexcept;

}  // namespace vantrel
