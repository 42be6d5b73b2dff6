// Header lines within the lengths mail servers enforce: folded before a blank
// so that lines stay within 78 characters where the words allow, and never
// exceed 998 (a relay refuses such a mail, or breaks it where it pleases).
// Pure functions over text.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

constexpr std::size_t kHeaderLineGoal = 78;
constexpr std::size_t kHeaderLineLimit = 998;

// The header field "<name>: <value>" as it goes out, ending in CR LF. A line
// break goes in before a blank or tab wherever the line would otherwise pass
// 78 characters (after the name too, when the first word does not fit),
// never where the new line would hold only blanks; a word longer than that
// stays whole on its own line, so callers give words of at
// most 900 characters. CR, LF and NUL in the value, which would end the
// header early or cut it, become blanks.
std::string FoldHeader(std::string_view name, std::string_view value);

// The field without its folding: each CR LF that is followed by a blank or a
// tab removed, and the final CR LF.
std::string UnfoldHeader(std::string_view folded);

}  // namespace vantrel
