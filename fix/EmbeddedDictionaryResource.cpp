// On Windows the build places the XML into the module as a resource of type
// "FIX44XML" with id 3001 (EmbeddedDictionary.rc.in).
#include "fix/EmbeddedDictionary.h"

#include "platform/Module.h"

namespace vantrel {
namespace fix {

ByteSpan EmbeddedFix44DictionaryXml() noexcept {
    const platform::ResourceBytes bytes = platform::ModuleResource("FIX44XML", 3001);
    return ByteSpan{bytes.pData, bytes.nSize};
}

}  // namespace fix
}  // namespace vantrel
