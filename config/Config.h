// The process-wide configuration store and the readers on top of it.
//
// The settings file is read at most once per process: on the first request,
// under the store's lock. A request that finds the file missing, unreadable or
// invalid throws and keeps nothing, so the next request reads the file again;
// once a read has succeeded, every request works on a copy of the same
// [DEFAULT] keys and a changed file is not read again.
//
// The file is the one named by VANTREL_CONFIG when that is set and not empty,
// otherwise "vantrel.cfg" in the host executable's directory (no file at all
// when that directory cannot be found). The path is fixed when the store is
// first used.
//
// Only a regular file of at most 1 MiB is read, and opening it never waits:
// anything else (a FIFO, a device, a directory, a larger file) is refused
// unread, like a missing file, and logs one event saying why (again only when
// the reason changes).
//
// The file holds passwords and says where alerts go: when it can be read or
// written by group or others, the read that loads it logs one event saying so
// and how to fix it (chmod 600), and the file is used all the same.
//
// Values read as Booleans must be exactly "Y" or "N"; values read as numbers
// an optional "-" and decimal digits that fit in 32 bits; values read as a
// choice one of its words, in any letter case. Any other value of a present
// key throws FIX::ConfigError with "Illegal value <value> for <key>".
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include "config/SettingsFile.h"

namespace vantrel {

// A copy of the [DEFAULT] keys, reading the file first if no read has
// succeeded yet. Throws FIX::ConfigError when the file cannot be loaded.
ConfigDictionary GetConfigDefaults();

// The path of the settings file.
std::string ConfigFilePath();

// Optional keys: true and the converted value when the key is defined, false
// (and `value` untouched) when it is not.
bool GetConfigBool(const std::string& key, bool& value);
bool GetConfigLong(const std::string& key, int32_t& value);
bool GetConfigString(const std::string& key, std::string& value);
// An optional key whose value is one of a few words: true and, in `index`,
// the position of the word in `choices` the value equals, ignoring letter
// case (operators write "STARTTLS" as often as "starttls"). Any other value
// is an illegal value.
bool GetConfigChoice(const std::string& key, std::initializer_list<const char*> choices, std::size_t& index);

// Required keys. An undefined key throws a FIX::Exception allocated with new
// and thrown by pointer, type "Config Error", detail "Cannot load parameter
// '<key>' from config file '<path>'"; whoever catches it deletes it.
void LoadConfigBool(const std::string& key, bool& value);
void LoadConfigString(const std::string& key, std::string& value);

namespace testing {
// Forgets the loaded settings, fixes the path again from the environment and
// resets the process-wide "FlushFlag" setting to not read. Only for tests: no
// other thread may be using the configuration.
void ResetConfigStore();
// How many times the settings file has been read successfully since the last
// reset.
int ConfigLoadCount();
}  // namespace testing

}  // namespace vantrel
