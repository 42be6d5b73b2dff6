#include "fix/DecodedQuote.h"

#include <new>
#include <vector>

#include "fix/QuoteDecoding.h"

namespace vantrel {
namespace fix {
namespace {

constexpr double kSizeScale = 0.000001;  // sizes reach the host in millions

// The kept entries in message order: on the stack for the usual handful, on
// the heap only for deep books.
struct Collector final : MDEntryVisitor {
    struct Entry {
        char cType;
        double dPx;
        double dSize;
    };
    static constexpr size_t kInline = 32;
    Entry inlineEntries[kInline];
    std::vector<Entry> spill;
    size_t nEntries = 0;
    int nBids = 0;

    bool onEntry(char cType, double dPx, double dSize) override {
        if (cType != '0' && cType != '1') return true;
        const Entry entry{cType, dPx, dSize * kSizeScale};
        if (nEntries < kInline) {
            inlineEntries[nEntries] = entry;
        } else {
            spill.push_back(entry);
        }
        ++nEntries;
        nBids += cType == '0';
        return true;
    }
    const Entry& operator[](size_t i) const { return i < kInline ? inlineEntries[i] : spill[i - kInline]; }
};

}  // namespace

std::unique_ptr<const DecodedQuote> DecodedQuote::Decode(const std::string& text) {
    Collector entries;
    bool bComplete = true;
    try {
        DecodeMarketDataEntries(text, entries);
    } catch (const std::bad_alloc&) {
        throw;
    } catch (...) {
        bComplete = false;
    }
    const int nBids = entries.nBids;
    const int nOffers = static_cast<int>(entries.nEntries) - nBids;
    void* const pBlock = ::operator new(sizeof(DecodedQuote) + entries.nEntries * (2 * sizeof(double) + 1));
    std::unique_ptr<DecodedQuote> decoded(new (pBlock) DecodedQuote(nBids, nOffers, bComplete));
    double* const pBidPrices = decoded->Values();
    double* const pBidSizes = pBidPrices + nBids;
    double* const pOfferPrices = pBidSizes + nBids;
    double* const pOfferSizes = pOfferPrices + nOffers;
    char* const pSides = reinterpret_cast<char*>(pOfferSizes + nOffers);
    size_t nBid = 0, nOffer = 0;
    for (size_t i = 0; i < entries.nEntries; ++i) {
        const Collector::Entry& entry = entries[i];
        pSides[i] = entry.cType;
        if (entry.cType == '0') {
            pBidPrices[nBid] = entry.dPx;
            pBidSizes[nBid++] = entry.dSize;
        } else {
            pOfferPrices[nOffer] = entry.dPx;
            pOfferSizes[nOffer++] = entry.dSize;
        }
    }
    return decoded;
}

}  // namespace fix
}  // namespace vantrel
