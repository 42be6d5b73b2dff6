#include "feed/QuotesContainer.h"

#include "fix/QuoteDecoding.h"
#include "log/LogFacade.h"

namespace vantrel {

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
    // Checked before the lock is taken, so decoding never blocks a query.
    const std::string symbol = fix::SymbolOfPayload(text);
    std::lock_guard<platform::RecursiveMutex> guard(m_lock);
    const auto it = m_quotes.find(symbol);
    if (it == m_quotes.end()) {
        m_quotes.emplace(symbol, text);
    } else {
        it->second.assign(text);  // reuses the stored string's capacity
    }
    return true;
}

bool CQuotesContainer::GetQuotes(std::string_view symbol, std::string& text) {
    if (RefCount() == 0) return false;
    text.clear();
    std::lock_guard<platform::RecursiveMutex> guard(m_lock);
    const auto it = m_quotes.find(symbol);
    if (it == m_quotes.end()) return false;
    text.assign(it->second);
    return true;
}

bool CQuotesContainer::GetAnyQuotes(std::string& symbol, std::string& text) {
    if (RefCount() == 0) return false;
    symbol.clear();
    text.clear();
    std::lock_guard<platform::RecursiveMutex> guard(m_lock);
    if (m_quotes.empty()) return false;
    const auto first = m_quotes.begin();
    symbol.assign(first->first);
    text.assign(first->second);
    return true;
}

void CQuotesContainer::Clear() {
    std::lock_guard<platform::RecursiveMutex> guard(m_lock);
    m_quotes.clear();
}

CQuotesContainer& GetQuotesContainer() {
    static CQuotesContainer container;
    return container;
}

}  // namespace vantrel
