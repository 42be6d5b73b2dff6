// Removes the mail password from server text before the library quotes it.
//
// A server may echo what it received ("535 bad credentials: <base64>"), and
// the library quotes the server's last reply in its warnings, which reach the
// log, the SMS gateway and the mail queue. Every form in which the login sent
// the password is therefore cut out: the password itself, its base64 form
// (AUTH LOGIN sends it alone) and the base64 form of the AUTH PLAIN
// credentials (NUL, user name, NUL, password). The base64 forms are matched
// with and without their "=" padding. A pure function over bytes, so that it
// is tested and fuzzed without a server.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// What takes the place of each run of removed characters.
constexpr const char* kRedacted = "****";

// `text` with every occurrence of a form of `password` replaced by
// kRedacted; overlapping or adjacent occurrences become one kRedacted. An
// empty password removes nothing.
std::string RedactPassword(std::string_view text, std::string_view user, std::string_view password);

}  // namespace vantrel
