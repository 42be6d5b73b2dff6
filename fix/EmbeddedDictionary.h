// The FIX 4.4 data dictionary (QuickFIX's XML format) that the build compiles
// into the library. Nothing is read from disk at run time.
#pragma once

#include <cstddef>

namespace vantrel {
namespace fix {

struct ByteSpan {
    const char* pData;
    std::size_t nSize;
};

ByteSpan EmbeddedFix44DictionaryXml() noexcept;

}  // namespace fix
}  // namespace vantrel
