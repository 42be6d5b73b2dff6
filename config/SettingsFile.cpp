#include "config/SettingsFile.h"

#include <algorithm>
#include <cctype>
#include <sstream>
#include <vector>

#include <quickfix/Exceptions.h>

#include "config/UnreadableSettingsFile.h"
#include "platform/FileSystem.h"

namespace vantrel {
namespace {

// CR counts as a blank so that files with CR LF line ends read the same.
const char* const kBlanks = " \t\r";

std::string Trim(const std::string& text) {
    const std::string::size_type first = text.find_first_not_of(kBlanks);
    if (first == std::string::npos) {
        return std::string();
    }
    const std::string::size_type last = text.find_last_not_of(kBlanks);
    return text.substr(first, last - first + 1);
}

std::string UpperCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

struct Section {
    std::string name;
    ConfigDictionary values;
};

const std::string& Require(const ConfigDictionary& session, const char* key) {
    const std::string* value = session.Find(key);
    if (value == nullptr) {
        throw FIX::ConfigError(std::string(key) + " not defined");
    }
    return *value;
}

void ValidateSession(const ConfigDictionary& session) {
    const std::string& beginString = Require(session, "BeginString");
    Require(session, "SenderCompID");
    Require(session, "TargetCompID");
    static const char* const kVersions[] = {"FIX.4.0", "FIX.4.1", "FIX.4.2", "FIX.4.3", "FIX.4.4"};
    if (std::find(std::begin(kVersions), std::end(kVersions), beginString) == std::end(kVersions)) {
        throw FIX::ConfigError("BeginString must be FIX.4.0 to FIX.4.4");
    }
    const std::string& connectionType = Require(session, "ConnectionType");
    if (connectionType != "initiator" && connectionType != "acceptor") {
        throw FIX::ConfigError("ConnectionType must be 'initiator' or 'acceptor'");
    }
}

}  // namespace

void ConfigDictionary::Set(const std::string& key, const std::string& value) {
    if (value.empty()) {
        m_values.erase(UpperCase(key));
    } else {
        m_values[UpperCase(key)] = value;
    }
}

const std::string* ConfigDictionary::Find(const std::string& key) const {
    const auto it = m_values.find(UpperCase(key));
    return it == m_values.end() ? nullptr : &it->second;
}

ConfigDictionary ConfigDictionary::WithDefaults(const ConfigDictionary& defaults) const {
    ConfigDictionary merged = *this;
    // insert() keeps a key this dictionary already holds.
    merged.m_values.insert(defaults.m_values.begin(), defaults.m_values.end());
    return merged;
}

ConfigDictionary ParseSettings(std::istream& in) {
    std::vector<Section> sections;
    for (std::string line; std::getline(in, line);) {
        const std::string text = Trim(line);
        if (text.empty() || text[0] == '#') {
            continue;
        }
        if (text.front() == '[' && text.back() == ']' && text.size() >= 2) {
            sections.push_back(Section{Trim(text.substr(1, text.size() - 2)), ConfigDictionary()});
            continue;
        }
        const std::string::size_type equals = text.find('=');
        if (equals == std::string::npos || sections.empty()) {
            continue;
        }
        const std::string key = Trim(text.substr(0, equals));
        if (!key.empty()) {
            sections.back().values.Set(key, Trim(text.substr(equals + 1)));
        }
    }

    const auto isNamed = [](const char* name) {
        return [name](const Section& section) { return section.name == name; };
    };
    const auto firstDefault = std::find_if(sections.begin(), sections.end(), isNamed("DEFAULT"));
    const ConfigDictionary defaults =
        firstDefault == sections.end() ? ConfigDictionary() : firstDefault->values;
    const bool bHasSession =
        std::any_of(sections.begin(), sections.end(), isNamed("SESSION"));
    for (const Section& section : sections) {
        const bool bIsSession = bHasSession ? section.name == "SESSION" : section.name != "DEFAULT";
        if (bIsSession) {
            ValidateSession(section.values.WithDefaults(defaults));
        }
    }
    return defaults;
}

ConfigDictionary ReadSettingsFile(const std::string& path) {
    const std::string file = "File \"" + path + "\" ";
    std::string content;
    int nError = 0;
    switch (platform::ReadSmallRegularFile(path, kMaxSettingsFileBytes, content, nError)) {
        case platform::SmallFileRead::Ok:
            break;
        case platform::SmallFileRead::NotFound:
            throw FIX::ConfigError(file + "not found");
        case platform::SmallFileRead::NotRegular:
            throw UnreadableSettingsFile(file + "cannot be read: not a regular file");
        case platform::SmallFileRead::TooLarge:
            throw UnreadableSettingsFile(file + "cannot be read: larger than 1 MiB");
        case platform::SmallFileRead::Unreadable:
            throw UnreadableSettingsFile(file + "cannot be read: error " + std::to_string(nError));
    }
    std::istringstream in(content);
    return ParseSettings(in);
}

}  // namespace vantrel
