// The encodings of mail text: base64 (one line for AUTH LOGIN, 76-character
// lines for attachments), quoted-printable for the body, and dot-stuffing for
// the DATA stream. Pure functions over bytes, so that they are tested and
// fuzzed without a socket.
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// Standard base64 alphabet with "=" padding, no line breaks.
std::string Base64Encode(std::string_view bytes);

// The same in lines of 76 characters, each ended by CR LF, and one more CR LF
// at the very end (a whole last line is thus followed by an empty one).
std::string Base64EncodeLines(std::string_view bytes);

// Skips every character outside the alphabet ("=" included) and decodes the
// rest; a final group of two or three characters gives one or two bytes.
std::string Base64Decode(std::string_view text);

// Quoted-printable text: LF and CR LF become CR LF line breaks; "=", control
// characters (a CR not before an LF included), bytes above 126, and blanks or
// tabs that end a line become "=XX"; lines longer than 76 characters are
// broken with soft breaks ("=" CR LF). A text that does not end with a line
// break ends with "=": the line break that follows it in the DATA stream then
// reads as a soft break, and the text comes back without a final line break.
std::string QuotedPrintableEncode(std::string_view text);

// Doubles every "." that starts a line: at the very start of the text and
// after each LF, so that no line of the DATA stream reads as its end.
std::string DotStuff(std::string_view text);

}  // namespace vantrel
