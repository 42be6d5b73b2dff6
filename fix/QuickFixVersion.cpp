// Build-time check that the QuickFIX headers in use are the 1.15 series the
// library is written against (its data dictionary and message parser).
#include <quickfix/Message.h>
#include <quickfix/DataDictionary.h>

static_assert(sizeof(FIX::DataDictionary) > 0, "QuickFIX data dictionary available");
