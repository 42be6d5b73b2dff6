#include "feed/QuotesContainer.h"

#include <functional>

#include <quickfix/Exceptions.h>

#include "config/Config.h"
#include "fix/QuoteDecoding.h"
#include "log/LogFacade.h"

namespace vantrel {

// One stored message. Its text never changes; its decoded entries are added
// by the first query that needs them and deleted with it.
struct CQuotesContainer::StoredQuote final : Retirable {
    explicit StoredQuote(const std::string& message) : text(message) {}
    ~StoredQuote() override { delete pDecoded.load(std::memory_order_acquire); }

    const std::string text;
    mutable std::atomic<const fix::DecodedQuote*> pDecoded{nullptr};
};

// One symbol, from its first message until the store is emptied.
struct CQuotesContainer::Slot final : Retirable {
    Slot(std::string symbol, std::size_t hash, StoredQuote* pQuote)
        : key(std::move(symbol)), nHash(hash), pCurrent(pQuote) {}
    ~Slot() override { delete pCurrent.load(std::memory_order_acquire); }

    const std::string key;
    const std::size_t nHash;
    std::atomic<StoredQuote*> pCurrent;
};

// Open addressing with linear probing, kept at most half full. A position is
// filled once and never emptied; a table that would pass half full is
// replaced by a copy twice its size.
struct CQuotesContainer::Table final : Retirable {
    explicit Table(std::size_t nCapacity) : nMask(nCapacity - 1), slots(new std::atomic<Slot*>[nCapacity]) {
        for (std::size_t i = 0; i < nCapacity; ++i) slots[i].store(nullptr, std::memory_order_relaxed);
    }

    std::size_t Capacity() const { return nMask + 1; }

    // The slot of `symbol`, or null.
    Slot* Find(std::string_view symbol, std::size_t nHash) const {
        for (std::size_t i = nHash & nMask;; i = (i + 1) & nMask) {
            Slot* const pSlot = slots[i].load(std::memory_order_acquire);
            if (pSlot == nullptr || (pSlot->nHash == nHash && pSlot->key == symbol)) return pSlot;
        }
    }

    // Fills the first free position from the slot's hash on (writer only).
    void Place(Slot* pSlot) {
        std::size_t i = pSlot->nHash & nMask;
        while (slots[i].load(std::memory_order_relaxed) != nullptr) i = (i + 1) & nMask;
        slots[i].store(pSlot, std::memory_order_release);
        ++nUsed;
    }

    const std::size_t nMask;
    const std::unique_ptr<std::atomic<Slot*>[]> slots;
    std::size_t nUsed = 0;
};

namespace {

constexpr std::size_t kFirstCapacity = 64;

std::size_t Hash(std::string_view symbol) { return std::hash<std::string_view>()(symbol); }

}  // namespace

CQuotesContainer::~CQuotesContainer() { Clear(); }

void CQuotesContainer::AddRef() {
    std::lock_guard<platform::RecursiveMutex> guard(m_lock);
    const int32_t n = m_nRefsCnt.load(std::memory_order_relaxed) + 1;
    m_nRefsCnt.store(n, std::memory_order_release);
    OutputEvent2Log("CQuotesContainer::AddRef(): m_nRefsCnt = " + std::to_string(n));
}

void CQuotesContainer::Release() {
    std::lock_guard<platform::RecursiveMutex> guard(m_lock);
    int32_t n = m_nRefsCnt.load(std::memory_order_relaxed);
    if (n >= 1) {
        if (n == 1) Clear();
        --n;
        m_nRefsCnt.store(n, std::memory_order_release);
    }
    OutputEvent2Log("CQuotesContainer::Release(): m_nRefsCnt = " + std::to_string(n));
}

bool CQuotesContainer::SetQuotes(const std::string& text) {
    if (RefCount() == 0) return false;
    // Checked and copied before the lock is taken: the lock is held only to
    // publish, and never by a query.
    std::string symbol = fix::SymbolOfPayload(text);
    // An empty symbol would be the smallest key, the answer of every
    // any-symbol query for the rest of the session.
    if (symbol.empty()) throw QuoteNotStored("Symbol (55) is empty");
    const std::size_t nHash = Hash(symbol);
    std::unique_ptr<StoredQuote> pQuote(new StoredQuote(text));
    std::size_t nFullAt = 0;
    {
        std::lock_guard<platform::RecursiveMutex> guard(m_lock);
        const Table* const pTable = m_pTable.load(std::memory_order_relaxed);
        if (Slot* const pSlot = pTable != nullptr ? pTable->Find(symbol, nHash) : nullptr) {
            m_readers.Retire(pSlot->pCurrent.exchange(pQuote.release(), std::memory_order_seq_cst));
        } else if (m_nMaxSymbols != 0 && pTable != nullptr && pTable->nUsed >= m_nMaxSymbols) {
            nFullAt = m_nMaxSymbols;
        } else {
            std::unique_ptr<Slot> pNew(new Slot(std::move(symbol), nHash, pQuote.get()));
            pQuote.release();
            Insert(pNew.get());
            pNew.release();
        }
    }
    if (nFullAt != 0) {
        throw QuoteNotStored("a new symbol beyond QuotesMaxSymbols (" + std::to_string(nFullAt) + " stored)");
    }
    return true;
}

void CQuotesContainer::SetMaxSymbols(std::size_t nMax) {
    std::lock_guard<platform::RecursiveMutex> guard(m_lock);
    m_nMaxSymbols = nMax;
}

void CQuotesContainer::Insert(Slot* pSlot) {
    Table* pTable = m_pTable.load(std::memory_order_relaxed);
    if (pTable == nullptr || 2 * (pTable->nUsed + 1) > pTable->Capacity()) {
        std::unique_ptr<Table> pLarger(new Table(pTable != nullptr ? 2 * pTable->Capacity() : kFirstCapacity));
        if (pTable != nullptr) {
            for (std::size_t i = 0; i < pTable->Capacity(); ++i) {
                if (Slot* const pOld = pTable->slots[i].load(std::memory_order_relaxed)) pLarger->Place(pOld);
            }
        }
        m_pTable.store(pLarger.get(), std::memory_order_seq_cst);
        m_readers.Retire(pTable);
        pTable = pLarger.release();
    }
    pTable->Place(pSlot);
    const Slot* const pSmallest = m_pSmallest.load(std::memory_order_relaxed);
    if (pSmallest == nullptr || pSlot->key < pSmallest->key) m_pSmallest.store(pSlot, std::memory_order_seq_cst);
}

CQuotesContainer::QuoteRef CQuotesContainer::FindQuote(std::string_view symbol) const {
    if (RefCount() == 0) return QuoteRef();
    CReadSections::Section section = m_readers.Enter();
    const Table* const pTable = m_pTable.load(std::memory_order_seq_cst);
    const Slot* const pSlot = pTable != nullptr ? pTable->Find(symbol, Hash(symbol)) : nullptr;
    if (pSlot == nullptr) return QuoteRef();
    return QuoteRef(std::move(section), pSlot, pSlot->pCurrent.load(std::memory_order_seq_cst));
}

CQuotesContainer::QuoteRef CQuotesContainer::FindAnyQuote() const {
    if (RefCount() == 0) return QuoteRef();
    CReadSections::Section section = m_readers.Enter();
    const Slot* const pSlot = m_pSmallest.load(std::memory_order_seq_cst);
    if (pSlot == nullptr) return QuoteRef();
    return QuoteRef(std::move(section), pSlot, pSlot->pCurrent.load(std::memory_order_seq_cst));
}

const std::string& CQuotesContainer::QuoteRef::Symbol() const { return m_pSlot->key; }

const std::string& CQuotesContainer::QuoteRef::Text() const { return m_pQuote->text; }

const fix::DecodedQuote& CQuotesContainer::QuoteRef::Entries() const {
    const fix::DecodedQuote* pDecoded = m_pQuote->pDecoded.load(std::memory_order_acquire);
    if (pDecoded != nullptr) return *pDecoded;
    std::unique_ptr<const fix::DecodedQuote> pFresh = fix::DecodedQuote::Decode(m_pQuote->text);
    if (m_pQuote->pDecoded.compare_exchange_strong(pDecoded, pFresh.get(), std::memory_order_acq_rel,
                                                   std::memory_order_acquire)) {
        return *pFresh.release();
    }
    return *pDecoded;  // another query published its result first
}

bool CQuotesContainer::GetQuotes(std::string_view symbol, std::string& text) {
    if (RefCount() == 0) return false;
    text.clear();
    const QuoteRef quote = FindQuote(symbol);
    if (!quote) return false;
    text.assign(quote.Text());
    return true;
}

bool CQuotesContainer::GetAnyQuotes(std::string& symbol, std::string& text) {
    if (RefCount() == 0) return false;
    symbol.clear();
    text.clear();
    const QuoteRef quote = FindAnyQuote();
    if (!quote) return false;
    symbol.assign(quote.Symbol());
    text.assign(quote.Text());
    return true;
}

void CQuotesContainer::Clear() {
    std::lock_guard<platform::RecursiveMutex> guard(m_lock);
    Table* const pTable = m_pTable.exchange(nullptr, std::memory_order_seq_cst);
    m_pSmallest.store(nullptr, std::memory_order_seq_cst);
    if (pTable != nullptr) {
        for (std::size_t i = 0; i < pTable->Capacity(); ++i) {
            m_readers.Retire(pTable->slots[i].load(std::memory_order_relaxed));
        }
        m_readers.Retire(pTable);
    }
    m_readers.Synchronize();
}

std::size_t CQuotesContainer::RetiredCount() const {
    std::lock_guard<platform::RecursiveMutex> guard(m_lock);
    return m_readers.RetiredCount();
}

CQuotesContainer& GetQuotesContainer() {
    static CQuotesContainer container;
    return container;
}

std::size_t ReadQuotesMaxSymbols() noexcept {
    static const char* const kKey = "QuotesMaxSymbols";
    try {
        try {
            // A file that cannot be loaded leaves every setting at its
            // default, silently; only a value that is there and wrong is
            // warned about.
            GetConfigDefaults();
        } catch (const FIX::ConfigError&) {
            return kDefaultMaxSymbols;
        }
        int32_t nMax = 0;
        if (!GetConfigLong(kKey, nMax)) return kDefaultMaxSymbols;
        if (nMax >= 0) return static_cast<std::size_t>(nMax);
        throw FIX::ConfigError("Illegal value " + std::to_string(nMax) + " for " + kKey);
    } catch (const FIX::ConfigError& e) {
        try {
            OutputWarning2Log("ReadQuotesMaxSymbols(): " + e.detail + "; using the default " +
                              std::to_string(kDefaultMaxSymbols));
        } catch (...) {
        }
    } catch (...) {
    }
    return kDefaultMaxSymbols;
}

}  // namespace vantrel
