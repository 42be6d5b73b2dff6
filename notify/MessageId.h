// The tokens that make each mail distinct: its Message-ID and its MIME
// boundary. Pure functions of the numbers they are given, so that their form
// is tested; the mail message supplies the time and the random numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vantrel {

// "<" time "." random "@" domain ">", the numbers in base 36. `domain` is the
// sender's domain; when it is empty or not fit for a Message-ID (a blank, a
// bracket inside it, control characters), "localhost" takes its place.
std::string MakeMessageId(uint64_t nMillis, uint64_t nRandom1, uint64_t nRandom2, std::string_view domain);

// A multipart boundary: "=_vantrel_" and the numbers in base 36. Legal as a
// boundary (its characters are in the set a boundary may use; it is sent
// quoted, since "=" must be), and it cannot occur in the parts the library
// writes: quoted-printable text has "=" only before two hexadecimal digits or
// a line end, base64 text never has "_".
std::string MakeBoundary(uint64_t nRandom1, uint64_t nRandom2);

}  // namespace vantrel
