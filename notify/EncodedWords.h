// Header text that is not plain short ASCII, in the forms mail readers
// decode: encoded words ("=?UTF-8?B?...?=") for subjects and display names,
// and the extended parameter form (name*0*=UTF-8''...) for MIME parameters.
// Pure functions over bytes.
//
// The library's texts are 8-bit strings whose code page it does not know:
// valid UTF-8 is labelled UTF-8, anything else windows-1252 (the code page of
// a Western Windows host, and a superset of Latin-1).
#pragma once

#include <string>
#include <string_view>

namespace vantrel {

// The charset label of `text` as above.
const char* TextCharset(std::string_view text);

// A subject or other unstructured header text: unchanged when it is
// printable ASCII whose words (runs between blanks) have at most 75
// characters and that holds no "=?"; otherwise the whole text as encoded
// words of at most 75 characters each, joined by blanks, no UTF-8 sequence
// split between two words.
std::string EncodeHeaderText(std::string_view text);

// A display name for "name <address>": unchanged when made of atoms and
// blanks; a quoted string when it is printable ASCII with other characters
// (",", ".", "@", quotes); encoded words otherwise, or when a word is too
// long for a header line.
std::string EncodeDisplayName(std::string_view name);

// The MIME parameter `name` with `value`, ready to follow "; ": name="value"
// when the value is printable ASCII of at most 60 characters, otherwise the
// value percent-encoded in numbered sections of at most 60 characters,
// separated by "; " (name*0*=UTF-8''...; name*1*=...).
std::string MimeParameter(std::string_view name, std::string_view value);

// The decoding of EncodeHeaderText's words back to bytes: each encoded word
// made of the forms above is replaced by its bytes, blanks between two encoded
// words are dropped; other text is kept.
std::string DecodeHeaderText(std::string_view text);

}  // namespace vantrel
