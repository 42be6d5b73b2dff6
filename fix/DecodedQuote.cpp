#include "fix/DecodedQuote.h"

#include <new>

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
    std::unique_ptr<DecodedQuote> decoded(new DecodedQuote());
    decoded->m_bComplete = bComplete;
    decoded->m_nBids = entries.nBids;
    decoded->m_nOffers = static_cast<int>(entries.nEntries) - entries.nBids;
    decoded->m_sides.reserve(entries.nEntries);
    decoded->m_values.resize(2 * entries.nEntries);
    double* const pBidPrices = decoded->m_values.data();
    double* const pBidSizes = pBidPrices + decoded->m_nBids;
    double* const pOfferPrices = pBidSizes + decoded->m_nBids;
    double* const pOfferSizes = pOfferPrices + decoded->m_nOffers;
    size_t nBid = 0, nOffer = 0;
    for (size_t i = 0; i < entries.nEntries; ++i) {
        const Collector::Entry& entry = entries[i];
        decoded->m_sides.push_back(entry.cType);
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
