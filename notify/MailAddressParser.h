// Mail addresses as the settings give them: "address", "<address>" or
// "Display Name <address>". Pure functions over text, so that what reaches
// the SMTP envelope and the header is checked without a server.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// True when `address` is one mailbox the envelope can carry: a local part
// (atoms joined by single dots, or a quoted string of printable ASCII), "@",
// and a domain (host-name labels joined by dots, or an address literal in
// brackets: letters, digits, ".", ":" and "-"), at most 254 characters. Anything else (blanks, "<", ">", control
// characters, bytes above 127) would change the meaning of the MAIL or RCPT
// command it went into.
bool IsMailAddress(std::string_view address);

// Splits a sender or recipient setting into its display name and its address.
// The name may be a quoted string ("Feed, Ops" <a@b>), whose quotes and
// escapes are removed; outer blanks are dropped. False when the text is not
// exactly one address in one of the three forms, or holds a control
// character; `name` and `address` are then untouched.
bool ParseMailAddress(std::string_view text, std::string& name, std::string& address);

}  // namespace vantrel
