// The process-wide FIX 4.4 data dictionary. This header includes QuickFIX's
// DataDictionary and is for the C++14 translation units of fix/ only; the
// rest of the library uses fix/QuoteDecoding.h.
#pragma once

#include <cstddef>

#include <quickfix/DataDictionary.h>

namespace vantrel {
namespace fix {

// The dictionary, loaded from the embedded XML by the first call that succeeds.
// A failed load throws FIX::ConfigError and leaves it unloaded, so the next
// call tries again. Concurrent first calls load it once.
//
// Before it is handed out, every group definition's field order is computed
// once, while no other thread can see the dictionary: QuickFIX computes it
// lazily without a lock, which corrupts memory when two threads parse with the
// same dictionary for the first time at once. Once loaded, the dictionary is
// only read, and any number of threads decode with it without a lock.
const FIX::DataDictionary& GetFix44DataDictionary();

// How many times the embedded text has been parsed in this process.
std::size_t Fix44DictionaryParseCount() noexcept;

}  // namespace fix
}  // namespace vantrel
