// The one store of the latest FIX quote message per symbol, between the
// quotes thread (which stores) and the host's query threads (which copy).
//
// Active only while a feed session holds a reference: with no reference,
// payloads are dropped unread and queries find nothing; when the last
// reference goes, every stored quote is erased, so one session's quotes never
// reach the next. Keys are the Symbol (55) exactly as received, ordered
// byte-wise; values are the whole message text as received.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>

#include "platform/Sync.h"

namespace vantrel {

class CQuotesContainer {
public:
    CQuotesContainer() = default;
    virtual ~CQuotesContainer();
    CQuotesContainer(const CQuotesContainer&) = delete;
    CQuotesContainer& operator=(const CQuotesContainer&) = delete;

    // Each logs "CQuotesContainer::AddRef(): m_nRefsCnt = N" (likewise
    // Release) with the count after the change. Release at 1 empties the
    // store; at 0 it changes nothing.
    void AddRef();
    void Release();

    // Checks the text as one FIX message (no dictionary), reads its Symbol and
    // stores the text under it, replacing the previous one. False, unread,
    // while inactive. A text that does not check raises the decoding error
    // (FIX::InvalidMessage, FIX::IncorrectDataFormat or FIX::FieldNotFound)
    // and leaves the store unchanged.
    bool SetQuotes(const std::string& text);

    // Copies the stored text of `symbol` into `text`. False when inactive
    // (text untouched) or not stored (text emptied).
    bool GetQuotes(std::string_view symbol, std::string& text);

    // The byte-wise smallest symbol and its text. False when inactive
    // (outputs untouched) or empty (outputs emptied).
    bool GetAnyQuotes(std::string& symbol, std::string& text);

    void Clear();

    int32_t RefCount() const { return m_nRefsCnt.load(std::memory_order_acquire); }

private:
    mutable platform::RecursiveMutex m_lock;
    std::map<std::string, std::string, std::less<>> m_quotes;
    std::atomic<int32_t> m_nRefsCnt{0};
};

// The process's container, created on first use (thread-safe).
CQuotesContainer& GetQuotesContainer();

}  // namespace vantrel
