// The error of a settings file that exists but is refused: not a regular
// file, larger than kMaxSettingsFileBytes, or unreadable. Caught as the
// FIX::ConfigError it is. In a header of its own so that the settings
// headers, included everywhere, need no QuickFIX header (on Windows it
// brings in the system's headers and their macros).
#pragma once

#include <quickfix/Exceptions.h>

namespace vantrel {

struct UnreadableSettingsFile : FIX::ConfigError {
    using FIX::ConfigError::ConfigError;
};

}  // namespace vantrel
