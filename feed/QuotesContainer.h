// The one store of the latest FIX quote message per symbol, between the
// quotes thread (which stores) and the host's query threads (which copy).
//
// Active only while a feed session holds a reference: with no reference,
// payloads are dropped unread and queries find nothing; when the last
// reference goes, every stored quote is erased, so one session's quotes never
// reach the next. Keys are the Symbol (55) exactly as received, ordered
// byte-wise; values are the whole message text as received, with its bid and
// offer entries once a query has decoded them.
//
// Queries take no lock: they find a symbol in a hash table that only grows
// during a session, and its current message through one atomic pointer, all
// inside a read section (feed/ReadSections.h). The quotes thread never
// changes a stored message: it publishes a new one and retires the old, which
// is deleted once no query can still be reading it. The writers (the quotes
// thread, and Release) serialise among themselves on one lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "feed/ReadSections.h"
#include "fix/DecodedQuote.h"
#include "platform/Sync.h"

namespace vantrel {

// The symbols a session stores unless "QuotesMaxSymbols" says otherwise: a
// server sending ever new symbols must not fill the host's memory.
constexpr std::size_t kDefaultMaxSymbols = 100000;

class CQuotesContainer {
    struct StoredQuote;
    struct Slot;
    struct Table;

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
    // (FIX::InvalidMessage, FIX::IncorrectDataFormat or FIX::FieldNotFound),
    // and one whose Symbol is empty, or that would add a symbol beyond the
    // limit, raises QuoteNotStored; each leaves the store unchanged.
    bool SetQuotes(const std::string& text);

    // The most symbols a session stores (0: no limit). Quotes of symbols
    // already stored always replace their message; a quote of a new symbol
    // beyond the limit is refused. Takes effect at once; the limit is the
    // writer's to keep, so queries pay nothing for it.
    void SetMaxSymbols(std::size_t nMax);

    // A stored message as a query sees it. It holds a read section: the
    // symbol, the text and the decoded entries stay valid while it lives, also
    // when a newer message replaces this one meanwhile. Keep it only for the
    // length of one query.
    class QuoteRef {
    public:
        explicit operator bool() const { return m_pQuote != nullptr; }
        const std::string& Symbol() const;
        const std::string& Text() const;
        // The message's bid and offer entries: decoded by the first query that
        // asks for them and kept with the message for every later query. Two
        // threads asking at once may both decode; one result is kept. Raises
        // only std::bad_alloc.
        const fix::DecodedQuote& Entries() const;

    private:
        friend class CQuotesContainer;
        QuoteRef() = default;
        QuoteRef(CReadSections::Section&& section, const Slot* pSlot, const StoredQuote* pQuote)
            : m_section(std::move(section)), m_pSlot(pSlot), m_pQuote(pQuote) {}
        CReadSections::Section m_section;
        const Slot* m_pSlot = nullptr;
        const StoredQuote* m_pQuote = nullptr;
    };

    // The message stored for `symbol`; empty when inactive or not stored.
    QuoteRef FindQuote(std::string_view symbol) const;

    // The message of the byte-wise smallest symbol; empty when inactive or
    // nothing is stored.
    QuoteRef FindAnyQuote() const;

    // Copies the stored text of `symbol` into `text`. False when inactive
    // (text untouched) or not stored (text emptied).
    bool GetQuotes(std::string_view symbol, std::string& text);

    // The byte-wise smallest symbol and its text. False when inactive
    // (outputs untouched) or empty (outputs emptied).
    bool GetAnyQuotes(std::string& symbol, std::string& text);

    // Erases every stored quote. Returns once no query can still be reading
    // them, so it must not be called from inside a query.
    void Clear();

    int32_t RefCount() const { return m_nRefsCnt.load(std::memory_order_acquire); }

    // Retired messages and tables not yet deleted (for tests).
    std::size_t RetiredCount() const;

private:
    void Insert(Slot* pSlot);

    mutable CReadSections m_readers;
    // What every query reads, on a cache line of its own.
    alignas(128) std::atomic<Table*> m_pTable{nullptr};
    std::atomic<const Slot*> m_pSmallest{nullptr};
    std::atomic<int32_t> m_nRefsCnt{0};
    alignas(128) mutable platform::RecursiveMutex m_lock;  // serialises the writers
    std::size_t m_nMaxSymbols = kDefaultMaxSymbols;        // under m_lock
};

// A quote the store refuses although it checks as a message: its Symbol is
// empty, or it would add a symbol beyond the limit.
class QuoteNotStored : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The process's container, created on first use (thread-safe).
CQuotesContainer& GetQuotesContainer();

// The "QuotesMaxSymbols" setting: a number of symbols, 0 for no limit;
// kDefaultMaxSymbols when the settings file has no such key or cannot be
// read. An illegal value (not a number, or negative) gives the default, with
// a warning that names the value.
std::size_t ReadQuotesMaxSymbols() noexcept;

}  // namespace vantrel
