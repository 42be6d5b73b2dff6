#include "fix/EmbeddedDictionary.h"

// The assembler copies the XML file, byte for byte, into a read-only section
// of the library; the build passes its path in VANTREL_FIX44_XML_PATH and
// rebuilds this file whenever the XML changes.
__asm__(
    ".section .rodata.vantrel_fix44_xml,\"a\",@progbits\n"
    ".balign 16\n"
    ".hidden vantrel_fix44_xml_begin\n"
    ".hidden vantrel_fix44_xml_end\n"
    "vantrel_fix44_xml_begin:\n"
    ".incbin \"" VANTREL_FIX44_XML_PATH "\"\n"
    "vantrel_fix44_xml_end:\n"
    ".byte 0\n"
    ".previous\n");

extern "C" const char vantrel_fix44_xml_begin[];
extern "C" const char vantrel_fix44_xml_end[];

namespace vantrel {
namespace fix {

ByteSpan EmbeddedFix44DictionaryXml() noexcept {
    return ByteSpan{vantrel_fix44_xml_begin,
                    static_cast<std::size_t>(vantrel_fix44_xml_end - vantrel_fix44_xml_begin)};
}

}  // namespace fix
}  // namespace vantrel
