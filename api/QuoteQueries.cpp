// GetLastQuotes and GetLastNQuotes: copy the bids and offers of the latest
// stored message of a symbol into the caller's arrays.
//
// A message is decoded once, by the first query that finds it after it
// arrived; later queries of the same message copy the entries kept with it
// (feed/QuotesContainer.h). The result is what a walk over the message's
// entries gives: each side counts its entries, an entry beyond that side's
// capacity is not kept and marks the side full, the walk stops once both
// sides are full, and entries of other types are passed over. Nothing is
// written to the caller unless the query succeeds, so a message that does not
// decode writes nothing and returns 0.
#include <algorithm>
#include <cstring>

#include "api/Session.h"
#include "api/SessionState.h"
#include "feed/QuotesContainer.h"
#include "fix/DecodedQuote.h"

namespace vantrel {
namespace {

struct Walk {
    int nBidsMet = 0;
    int nOffersMet = 0;
    int nBidsKept = 0;
    int nOffersKept = 0;
};

// The walk over `entries` with these capacities. False when it would reach a
// decoding failure before it stops.
bool WalkEntries(const fix::DecodedQuote& entries, int nBidCapacity, int nOfferCapacity, Walk& walk) {
    if (entries.Bids() > nBidCapacity && entries.Offers() > nOfferCapacity) {
        // Both sides fill up among the kept entries: the walk stops at the
        // entry that fills the second one, before any failure after it.
        int nBids = 0, nOffers = 0;
        for (const char cSide : entries.Sides()) {
            ++(cSide == '0' ? nBids : nOffers);
            if (nBids > nBidCapacity && nOffers > nOfferCapacity) break;
        }
        walk = {nBids, nOffers, nBidCapacity, nOfferCapacity};
        return true;
    }
    if (!entries.Complete()) return false;
    walk = {entries.Bids(), entries.Offers(), std::min(entries.Bids(), nBidCapacity),
            std::min(entries.Offers(), nOfferCapacity)};
    return true;
}

void CopyDoubles(double* pTo, const double* pFrom, int n) {
    if (n > 0) std::memcpy(pTo, pFrom, static_cast<size_t>(n) * sizeof(double));
}

// Finds the quote and walks its entries; on success sets the first
// `nZeroFill` elements of each array to 0.0, then writes the kept entries,
// and for an any-symbol request the symbol, into the caller's memory.
bool Query(char* symbol, int nBidCapacity, int nOfferCapacity, int nZeroFill, double* pBidPrices,
           double* pBidSizes, double* pOfferPrices, double* pOfferSizes, Walk& walk) {
    const CQuotesContainer& container = GetQuotesContainer();
    const bool bAny = symbol[0] == '\0';
    const CQuotesContainer::QuoteRef quote = bAny ? container.FindAnyQuote() : container.FindQuote(symbol);
    if (!quote) return false;
    const fix::DecodedQuote& entries = quote.Entries();
    if (!WalkEntries(entries, nBidCapacity, nOfferCapacity, walk)) return false;
    if (nZeroFill > 0) {
        for (double* array : {pBidPrices, pBidSizes, pOfferPrices, pOfferSizes}) {
            std::memset(array, 0, static_cast<size_t>(nZeroFill) * sizeof(double));
        }
    }
    CopyDoubles(pBidPrices, entries.BidPrices(), walk.nBidsKept);
    CopyDoubles(pBidSizes, entries.BidSizes(), walk.nBidsKept);
    CopyDoubles(pOfferPrices, entries.OfferPrices(), walk.nOffersKept);
    CopyDoubles(pOfferSizes, entries.OfferSizes(), walk.nOffersKept);
    if (bAny) std::memcpy(symbol, quote.Symbol().c_str(), quote.Symbol().size() + 1);
    return true;
}

}  // namespace

int GetLastQuotes(char* symbol, int* pnBidCount, double* pBidPrices, double* pBidSizes,
                  int* pnOfferCount, double* pOfferPrices, double* pOfferSizes) {
    if (g_nSessionsCnt.load(std::memory_order_relaxed) == 0) return -2;
    if (symbol == nullptr || pnBidCount == nullptr || pnOfferCount == nullptr || *pnBidCount <= 0 ||
        *pnOfferCount <= 0 || pBidPrices == nullptr || pBidSizes == nullptr ||
        pOfferPrices == nullptr || pOfferSizes == nullptr) {
        return -1;
    }
    Walk walk;
    if (!Query(symbol, *pnBidCount, *pnOfferCount, 0, pBidPrices, pBidSizes, pOfferPrices, pOfferSizes,
               walk)) {
        return 0;
    }
    *pnBidCount = walk.nBidsMet;
    *pnOfferCount = walk.nOffersMet;
    return 1;
}

int GetLastNQuotes(char* symbol, int n, double* pBidPrices, double* pBidSizes, double* pOfferPrices,
                   double* pOfferSizes) {
    if (g_nSessionsCnt.load(std::memory_order_relaxed) == 0) return -2;
    if (symbol == nullptr || n <= 0 || pBidPrices == nullptr || pBidSizes == nullptr ||
        pOfferPrices == nullptr || pOfferSizes == nullptr) {
        return -1;
    }
    Walk walk;
    return Query(symbol, n, n, n, pBidPrices, pBidSizes, pOfferPrices, pOfferSizes, walk) ? 1 : 0;
}

}  // namespace vantrel
