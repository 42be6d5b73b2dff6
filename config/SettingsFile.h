// The settings file: QuickFIX's settings format, read by a reader of our own.
//
// A section starts with a line "[NAME]"; every "key=value" line below it
// belongs to it, and a setting line above the first section is ignored. Lines
// that are blank, start with "#", or hold no "=" are skipped. Keys and values
// lose their surrounding blanks; a value that is then empty leaves the key
// undefined. Keys are case-insensitive, values keep their case.
//
// The library takes its settings from the first [DEFAULT] section only. The
// file must still be a valid set of sessions: every [SESSION] section, or, when
// there is none, every section not named DEFAULT, completed with the [DEFAULT]
// keys it lacks, must define BeginString (FIX.4.0 to FIX.4.4), SenderCompID,
// TargetCompID and ConnectionType ("initiator" or "acceptor"). A file with
// only a [DEFAULT] section is valid.
#pragma once

#include <cstddef>
#include <istream>
#include <map>
#include <string>

namespace vantrel {

// Keys are stored and looked up in upper case.
class ConfigDictionary {
public:
    // Sets the key's value; an empty value removes the key.
    void Set(const std::string& key, const std::string& value);
    // The key's value, or null when the key is not defined.
    const std::string* Find(const std::string& key) const;
    // This dictionary plus every key of `defaults` it does not define itself.
    ConfigDictionary WithDefaults(const ConfigDictionary& defaults) const;
    std::size_t Size() const { return m_values.size(); }

private:
    std::map<std::string, std::string> m_values;
};

// Parses settings text, validates its session sections and returns its first
// [DEFAULT] section (empty when it has none). Throws FIX::ConfigError with
// "<key> not defined", "BeginString must be FIX.4.0 to FIX.4.4" or
// "ConnectionType must be 'initiator' or 'acceptor'" for an invalid session.
ConfigDictionary ParseSettings(std::istream& in);

// The largest settings file read: a settings file is a few kilobytes, and a
// path that names something else (a device, a disk image) must not fill the
// host's memory.
constexpr std::size_t kMaxSettingsFileBytes = 1024 * 1024;

// Reads and parses the file at `path`. Throws FIX::ConfigError with the detail
// File "<path>" not found for an empty path or nothing at the path, and
// UnreadableSettingsFile (config/UnreadableSettingsFile.h) with File "<path>"
// cannot be read: <why> for anything else that cannot be read. The open never
// waits (a FIFO without a writer).
ConfigDictionary ReadSettingsFile(const std::string& path);

}  // namespace vantrel
