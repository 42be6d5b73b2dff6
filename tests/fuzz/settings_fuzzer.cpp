// The settings-file reader and the typed readers on top of it: any file
// either loads or fails with FIX::ConfigError, and every key it defines reads
// back the same in any letter case, with the Boolean and integer rules
// checked against a reference written here.
//
// Input: the whole settings file.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <sstream>
#include <string>
#include <vector>

#include <quickfix/Exceptions.h>

#include "config/Config.h"
#include "config/SettingsFile.h"
#include "tests/fuzz/FuzzSupport.h"

namespace {

using vantrel::fuzz::Fail;

std::string g_path;

// The keys of the input's "key=value" lines, at most `limit`.
std::vector<std::string> KeysOf(const std::string& text, std::size_t limit) {
    std::vector<std::string> keys;
    std::istringstream lines(text);
    for (std::string line; keys.size() < limit && std::getline(lines, line);) {
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string key = line.substr(0, equals);
        const std::size_t first = key.find_first_not_of(" \t\r");
        if (first == std::string::npos) continue;
        key = key.substr(first, key.find_last_not_of(" \t\r") - first + 1);
        if (key[0] != '[' && key[0] != '#') keys.push_back(key);
    }
    return keys;
}

// An integer setting: an optional "-" and decimal digits, within 32 bits.
bool ReferenceInt32(const std::string& text, int32_t& value) {
    const std::size_t start = !text.empty() && text[0] == '-' ? 1 : 0;
    if (text.size() == start || text.size() > 40) return false;
    for (std::size_t i = start; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
    }
    errno = 0;
    const long long n = std::strtoll(text.c_str(), nullptr, 10);
    if (errno == ERANGE || n < INT32_MIN || n > INT32_MAX) return false;
    value = static_cast<int32_t>(n);
    return true;
}

template <typename Read>
bool ReadOrIllegal(Read read, bool& bIllegal) {
    bIllegal = false;
    try {
        return read();
    } catch (const FIX::ConfigError&) {
        bIllegal = true;
        return false;
    }
}

void CheckKey(const std::string& key) {
    std::string value;
    if (!vantrel::GetConfigString(key, value)) return;
    if (value.empty()) Fail("a defined key has an empty value");
    if (value.back() == ' ' || value.back() == '\t' || value.back() == '\r') Fail("a value kept a trailing blank");
    std::string lower = key;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    std::string other;
    if (!vantrel::GetConfigString(lower, other) || other != value) Fail("keys are not case-insensitive");

    bool bIllegal = false;
    bool bFlag = false;
    const bool bBool = ReadOrIllegal([&] { return vantrel::GetConfigBool(key, bFlag); }, bIllegal);
    if (bBool != (value == "Y" || value == "N") || bIllegal == bBool) Fail("Boolean rule");
    if (bBool && bFlag != (value == "Y")) Fail("Boolean value");

    int32_t number = 0, expected = 0;
    const bool bInt = ReadOrIllegal([&] { return vantrel::GetConfigLong(key, number); }, bIllegal);
    if (bInt != ReferenceInt32(value, expected) || bIllegal == bInt) Fail("integer rule");
    if (bInt && number != expected) Fail("integer value");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::UseScratchLogDirectory();
    g_path = std::string(std::getenv("VANTREL_LOG_DIR")) + "/fuzz.cfg";
    ::setenv("VANTREL_CONFIG", g_path.c_str(), 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    bool bParsed = true;
    try {
        std::istringstream in(text);
        vantrel::ParseSettings(in);
    } catch (const FIX::ConfigError&) {
        bParsed = false;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "unexpected exception: %s\n", e.what());
        Fail("the reader raised something other than FIX::ConfigError");
    }

    // The same text as a file, through the store and the typed readers.
    std::FILE* file = std::fopen(g_path.c_str(), "wb");
    if (file == nullptr) Fail("cannot write the settings file");
    if (size != 0) std::fwrite(data, 1, size, file);
    std::fclose(file);
    vantrel::testing::ResetConfigStore();
    bool bLoaded = true;
    try {
        vantrel::GetConfigDefaults();
    } catch (const FIX::ConfigError&) {
        bLoaded = false;
    }
    if (bLoaded != bParsed) Fail("the file and the text load differently");
    if (!bLoaded) return 0;
    for (const std::string& key : KeysOf(text, 8)) CheckKey(key);
    return 0;
}
