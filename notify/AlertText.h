// Texts shared by the mail and SMS alerts: the notification body and the
// splitting of recipient lists from the settings file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "log/UtcTime.h"

namespace vantrel {

// "<YYYYMMDD-HH:MM:SS, Error (3)>: text", with the UTC time `when`.
std::string ErrorAlertBody(uint32_t nCode, const std::string& text, const UtcTime& when);
// "<YYYYMMDD-HH:MM:SS, Warning>: text".
std::string WarningAlertBody(const std::string& text, const UtcTime& when);

// The characters that separate addresses and numbers in a list setting.
constexpr const char* kAlertListSeparators = " ,;\t\n";

// The tokens of `list` between runs of separator characters, in order;
// empty tokens are dropped.
std::vector<std::string> SplitAlertList(const std::string& list);

}  // namespace vantrel
