// The name the SMTP client gives in EHLO. Servers refuse names that are not
// fully qualified (strict ones) or not valid host names at all (an "_", as in
// many Windows computer names), and a name with a line break would inject a
// command; the address literal of the connection's own end is always valid.
// Pure functions over text.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// True for a fully qualified host name: at least two labels of letters,
// digits and inner hyphens, each of at most 63 characters, at most 253 in all,
// the last label not all digits, and not a name only this host knows
// ("localhost", "*.localdomain", "*.local").
bool IsFullyQualifiedHostName(std::string_view name);

// `hostName` when it is fully qualified (a final "." dropped), otherwise the
// address literal of `localAddress` ("[192.0.2.7]", "[IPv6:2001:db8::1]"),
// or "[127.0.0.1]" when no local address is known.
std::string ChooseEhloName(std::string_view hostName, std::string_view localAddress);

}  // namespace vantrel
