#include "config/Config.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <optional>

#include <quickfix/Exceptions.h>

#include "config/CfgSettingHandler.h"
#include "config/UnreadableSettingsFile.h"
#include "log/LogFacade.h"
#include "platform/FileSystem.h"
#include "platform/Sync.h"

namespace vantrel {
namespace {

std::string PathFromEnvironment() {
    std::string path = platform::GetEnvironment("VANTREL_CONFIG");
    if (!path.empty()) {
        return path;
    }
    // Without the executable's directory there is no file to read: an empty
    // path fails every load, rather than reading whatever "vantrel.cfg" the
    // current directory happens to hold.
    const std::string directory = platform::ExecutableDirectory();
    return directory.empty() ? std::string() : directory + "vantrel.cfg";
}

// Set when the store is destroyed at unload. A request made after that (an
// error logged by code that is itself being torn down) fails like an
// unreadable file instead of touching the destroyed store.
std::atomic<bool> g_bStoreClosed{false};

struct ConfigStore {
    ConfigStore() : m_path(PathFromEnvironment()) {}
    ~ConfigStore() { g_bStoreClosed = true; }

    platform::RecursiveMutex m_mutex;
    std::string m_path;
    std::optional<ConfigDictionary> m_defaults;
    std::string m_refusal;  // the last refusal of an existing file logged
    int m_nLoads = 0;
};

ConfigStore& Store() {
    if (g_bStoreClosed) {
        throw FIX::ConfigError("the configuration store is closed");
    }
    static ConfigStore store;
    return store;
}

// Looks `key` up in a fresh copy of the [DEFAULT] keys; `value` receives the
// text when the key is defined.
bool FindSetting(const std::string& key, std::string& value) {
    const ConfigDictionary defaults = GetConfigDefaults();
    const std::string* found = defaults.Find(key);
    if (found == nullptr) {
        return false;
    }
    value = *found;
    return true;
}

// The settings file holds the mail and SMS passwords and says where alerts
// go. When group or others can read it, or change it (and so point the mail
// server setting at their own server to collect the password), the text of
// the event that says so and how to fix it (as ssh does for its keys); empty
// otherwise. The file is read all the same.
std::string ExposedFileNote(const std::string& path) {
    const int mode = platform::FilePermissions(path);
    if (mode < 0 || (mode & 0066) == 0) {
        return std::string();
    }
    const bool bReadable = (mode & 0044) != 0;
    const bool bWritable = (mode & 0022) != 0;
    char octal[16];
    std::snprintf(octal, sizeof octal, "%04o", static_cast<unsigned>(mode));
    const std::string who = bReadable && bWritable ? "read and written" : bReadable ? "read" : "written";
    const std::string risk = bWritable ? "whoever writes it can send the alerts and their passwords elsewhere"
                                       : "may hold passwords";
    const std::string fix = bReadable && bWritable ? "readable and writable" : bReadable ? "readable" : "writable";
    return "GetConfigDefaults(): the settings file '" + path + "' can be " + who + " by group or others (mode " +
           octal + ") and " + risk + "; make it " + fix + " by its owner only: chmod 600 '" + path + "'";
}

[[noreturn]] void ThrowIllegalValue(const std::string& value, const std::string& key) {
    throw FIX::ConfigError("Illegal value " + value + " for " + key);
}

[[noreturn]] void ThrowCannotLoad(const std::string& key) {
    const std::string detail =
        "Cannot load parameter '" + key + "' from config file '" + ConfigFilePath() + "'";
    throw new FIX::Exception("Config Error", detail);
}

bool ToBool(const std::string& key, const std::string& text) {
    if (text == "Y") {
        return true;
    }
    if (text != "N") {
        ThrowIllegalValue(text, key);
    }
    return false;
}

int32_t ToInt32(const std::string& key, const std::string& text) {
    const bool bNegative = !text.empty() && text[0] == '-';
    const std::string::size_type start = bNegative ? 1 : 0;
    if (text.size() == start) {
        ThrowIllegalValue(text, key);
    }
    // Accumulated as a negative number, whose range reaches INT32_MIN.
    int64_t nValue = 0;
    for (std::string::size_type i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') {
            ThrowIllegalValue(text, key);
        }
        nValue = nValue * 10 - (text[i] - '0');
        if (nValue < INT32_MIN) {
            ThrowIllegalValue(text, key);
        }
    }
    if (!bNegative) {
        nValue = -nValue;
        if (nValue > INT32_MAX) {
            ThrowIllegalValue(text, key);
        }
    }
    return static_cast<int32_t>(nValue);
}

}  // namespace

ConfigDictionary GetConfigDefaults() {
    ConfigStore& store = Store();
    std::string note;
    ConfigDictionary defaults;
    try {
        std::lock_guard<platform::RecursiveMutex> guard(store.m_mutex);
        if (!store.m_defaults) {
            store.m_defaults = ReadSettingsFile(store.m_path);
            ++store.m_nLoads;
            store.m_refusal.clear();
            note = ExposedFileNote(store.m_path);
        }
        defaults = *store.m_defaults;
    } catch (const UnreadableSettingsFile& e) {
        // A file that is there but refused leaves every setting at its
        // default, alerts off among them: said once, not at every retry.
        {
            std::lock_guard<platform::RecursiveMutex> guard(store.m_mutex);
            if (store.m_refusal != e.detail) {
                store.m_refusal = e.detail;
                note = "GetConfigDefaults(): " + e.detail + "; every setting keeps its default";
            }
        }
        if (!note.empty()) {
            OutputEvent2Log(note);
        }
        throw;
    }
    // Logged outside the store's lock, like every report of this file.
    if (!note.empty()) {
        OutputEvent2Log(note);
    }
    return defaults;
}

std::string ConfigFilePath() {
    ConfigStore& store = Store();
    std::lock_guard<platform::RecursiveMutex> guard(store.m_mutex);
    return store.m_path;
}

bool GetConfigBool(const std::string& key, bool& value) {
    std::string text;
    if (!FindSetting(key, text)) {
        return false;
    }
    value = ToBool(key, text);
    return true;
}

bool GetConfigLong(const std::string& key, int32_t& value) {
    std::string text;
    if (!FindSetting(key, text)) {
        return false;
    }
    value = ToInt32(key, text);
    return true;
}

bool GetConfigString(const std::string& key, std::string& value) {
    return FindSetting(key, value);
}

bool GetConfigChoice(const std::string& key, std::initializer_list<const char*> choices, std::size_t& index) {
    std::string text;
    if (!FindSetting(key, text)) {
        return false;
    }
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    std::size_t i = 0;
    for (const char* choice : choices) {
        const std::string word(choice);
        if (word.size() == text.size() &&
            std::equal(word.begin(), word.end(), text.begin(), [&](char a, char b) { return lower(a) == lower(b); })) {
            index = i;
            return true;
        }
        ++i;
    }
    ThrowIllegalValue(text, key);
}

void LoadConfigBool(const std::string& key, bool& value) {
    if (!GetConfigBool(key, value)) {
        ThrowCannotLoad(key);
    }
}

void LoadConfigString(const std::string& key, std::string& value) {
    if (!GetConfigString(key, value)) {
        ThrowCannotLoad(key);
    }
}

namespace testing {

void ResetConfigStore() {
    ConfigStore& store = Store();
    {
        std::lock_guard<platform::RecursiveMutex> guard(store.m_mutex);
        store.m_path = PathFromEnvironment();
        store.m_defaults.reset();
        store.m_refusal.clear();
        store.m_nLoads = 0;
    }
    ResetSettingHandler(FlushFlagSetting());
}

int ConfigLoadCount() {
    ConfigStore& store = Store();
    std::lock_guard<platform::RecursiveMutex> guard(store.m_mutex);
    return store.m_nLoads;
}

}  // namespace testing
}  // namespace vantrel
