// GetLastQuotes and GetLastNQuotes: copy the bids and offers of the latest
// stored message of a symbol into the caller's arrays.
//
// The container lock is held only to copy the stored text; decoding works on
// that private copy. Everything is decoded into locals first and written to
// the caller only when the whole walk succeeded, so a message that fails to
// decode writes nothing and returns 0.
#include <cstring>
#include <string>
#include <vector>

#include "api/Session.h"
#include "api/SessionState.h"
#include "feed/QuotesContainer.h"
#include "fix/QuoteDecoding.h"

namespace vantrel {
namespace {

constexpr double kSizeScale = 0.000001;  // sizes reach the host in millions

// Doubles kept on the stack for the usual handful of entries, spilling to the
// heap only for deep books. (No thread_local buffers: objects with per-thread
// destructors would keep the library loaded after dlclose.)
class Doubles {
public:
    void clear() {
        m_nSize = 0;
        m_spill.clear();
    }
    void push_back(double value) {
        if (m_nSize < kInline) {
            m_inline[m_nSize] = value;
        } else {
            m_spill.push_back(value);
        }
        ++m_nSize;
    }
    // Copies every element to `to`.
    void copyTo(double* to) const {
        const size_t nInline = m_nSize < kInline ? m_nSize : kInline;
        if (nInline != 0) std::memcpy(to, m_inline, nInline * sizeof(double));
        if (!m_spill.empty()) std::memcpy(to + kInline, m_spill.data(), m_spill.size() * sizeof(double));
    }

private:
    static constexpr size_t kInline = 16;
    double m_inline[kInline];
    size_t m_nSize = 0;
    std::vector<double> m_spill;
};

// Walks the entries as the queries define it: each side counts its entries;
// an entry beyond that side's capacity is not kept and marks the side full;
// the walk stops once both sides are full. Entries of other types are passed
// over.
struct SideWalk final : fix::MDEntryVisitor {
    int nBidCapacity = 0;
    int nOfferCapacity = 0;
    int nBidIndex = -1;
    int nOfferIndex = -1;
    bool bBidFull = false;
    bool bOfferFull = false;
    Doubles bidPrices, bidSizes, offerPrices, offerSizes;

    void reset(int bidCapacity, int offerCapacity) {
        nBidCapacity = bidCapacity;
        nOfferCapacity = offerCapacity;
        nBidIndex = nOfferIndex = -1;
        bBidFull = bOfferFull = false;
        bidPrices.clear();
        bidSizes.clear();
        offerPrices.clear();
        offerSizes.clear();
    }

    bool onEntry(char cType, double dPx, double dSize) override {
        if (cType == '0') {
            if (++nBidIndex < nBidCapacity) {
                bidPrices.push_back(dPx);
                bidSizes.push_back(dSize * kSizeScale);
            } else {
                bBidFull = true;
            }
        } else if (cType == '1') {
            if (++nOfferIndex < nOfferCapacity) {
                offerPrices.push_back(dPx);
                offerSizes.push_back(dSize * kSizeScale);
            } else {
                bOfferFull = true;
            }
        }
        return !(bBidFull && bOfferFull);
    }
};

// What one query works on: its private copy of the stored text and the
// decoded entries.
struct QueryScratch {
    std::string text;
    std::string symbol;
    SideWalk walk;
};

// Looks the symbol up and decodes its message into the scratch walk. True
// when found and decoded; `bAny` tells the caller to write back the symbol.
bool FindAndDecode(const char* symbol, int bidCapacity, int offerCapacity, QueryScratch& s) {
    CQuotesContainer& container = GetQuotesContainer();
    const bool bFound = symbol[0] != '\0' ? container.GetQuotes(symbol, s.text)
                                          : container.GetAnyQuotes(s.symbol, s.text);
    if (!bFound) return false;
    s.walk.reset(bidCapacity, offerCapacity);
    try {
        fix::DecodeMarketDataEntries(s.text, s.walk);
    } catch (...) {
        // A stored message that does not decode: nothing is written.
        return false;
    }
    return true;
}

// Writes the decoded entries, and for an any-symbol request the symbol, into
// the caller's memory.
void WriteResult(const QueryScratch& s, char* symbol, double* pBidPrices, double* pBidSizes,
                 double* pOfferPrices, double* pOfferSizes) {
    s.walk.bidPrices.copyTo(pBidPrices);
    s.walk.bidSizes.copyTo(pBidSizes);
    s.walk.offerPrices.copyTo(pOfferPrices);
    s.walk.offerSizes.copyTo(pOfferSizes);
    if (symbol[0] == '\0') std::memcpy(symbol, s.symbol.c_str(), s.symbol.size() + 1);
}

}  // namespace

int GetLastQuotes(char* symbol, int* pnBidCount, double* pBidPrices, double* pBidSizes,
                  int* pnOfferCount, double* pOfferPrices, double* pOfferSizes) {
    if (g_nSessionsCnt.load() == 0) return -2;
    if (symbol == nullptr || pnBidCount == nullptr || pnOfferCount == nullptr || *pnBidCount <= 0 ||
        *pnOfferCount <= 0 || pBidPrices == nullptr || pBidSizes == nullptr ||
        pOfferPrices == nullptr || pOfferSizes == nullptr) {
        return -1;
    }
    QueryScratch s;
    if (!FindAndDecode(symbol, *pnBidCount, *pnOfferCount, s)) return 0;
    WriteResult(s, symbol, pBidPrices, pBidSizes, pOfferPrices, pOfferSizes);
    *pnBidCount = s.walk.nBidIndex + 1;
    *pnOfferCount = s.walk.nOfferIndex + 1;
    return 1;
}

int GetLastNQuotes(char* symbol, int n, double* pBidPrices, double* pBidSizes,
                   double* pOfferPrices, double* pOfferSizes) {
    if (g_nSessionsCnt.load() == 0) return -2;
    if (symbol == nullptr || n <= 0 || pBidPrices == nullptr || pBidSizes == nullptr ||
        pOfferPrices == nullptr || pOfferSizes == nullptr) {
        return -1;
    }
    QueryScratch s;
    if (!FindAndDecode(symbol, n, n, s)) return 0;
    for (double* array : {pBidPrices, pBidSizes, pOfferPrices, pOfferSizes}) {
        std::memset(array, 0, static_cast<size_t>(n) * sizeof(double));
    }
    WriteResult(s, symbol, pBidPrices, pBidSizes, pOfferPrices, pOfferSizes);
    return 1;
}

}  // namespace vantrel
