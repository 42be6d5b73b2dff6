// Control characters written as visible escapes, so that text from outside
// (a server's symbol, a login name, a reply) can neither end a log line early
// nor drive the terminal it is printed on. Pure, without any other part of the
// library: the quote monitor prints server text through it too.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Appends `text` to `out` with CR as \r, LF as \n, every other byte below
// 0x20 and DEL as \xNN (upper-case hex). Other bytes pass unchanged.
void AppendEscaped(std::string& out, std::string_view text);

// `text` escaped as AppendEscaped does.
std::string Escaped(std::string_view text);

}  // namespace vantrel
