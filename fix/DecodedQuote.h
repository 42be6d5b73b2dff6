// The bid and offer entries of one stored market data message, decoded once
// so that every later query of the same message copies them instead of
// parsing the message again.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace vantrel {
namespace fix {

// One allocation holds the counts, the values and the sides, so that a query
// reads one block and a decode costs one allocation.
class alignas(double) DecodedQuote {
public:
    // Decodes `text` as DecodeMarketDataEntries does. Bid (MDEntryType "0")
    // and offer ("1") entries are kept in message order with their sizes in
    // millions; entries of other types are passed over. A text that fails to
    // decode gives the entries read before the failure, and Complete() false.
    // Raises only std::bad_alloc.
    static std::unique_ptr<const DecodedQuote> Decode(const std::string& text);

    static void operator delete(void* p) noexcept { ::operator delete(p); }

    int Bids() const { return m_nBids; }
    int Offers() const { return m_nOffers; }
    const double* BidPrices() const { return Values(); }
    const double* BidSizes() const { return Values() + m_nBids; }
    const double* OfferPrices() const { return Values() + 2 * m_nBids; }
    const double* OfferSizes() const { return Values() + 2 * m_nBids + m_nOffers; }

    // The side of each kept entry in message order: '0' bid, '1' offer.
    std::string_view Sides() const {
        return std::string_view(reinterpret_cast<const char*>(Values() + 2 * Kept()), Kept());
    }

    // False when decoding failed after the kept entries.
    bool Complete() const { return m_bComplete; }

private:
    DecodedQuote(int nBids, int nOffers, bool bComplete)
        : m_nBids(nBids), m_nOffers(nOffers), m_bComplete(bComplete) {}
    std::size_t Kept() const { return static_cast<std::size_t>(m_nBids + m_nOffers); }
    // After the object: bid prices, bid sizes, offer prices, offer sizes,
    // then one side character per kept entry.
    const double* Values() const { return reinterpret_cast<const double*>(this + 1); }
    double* Values() { return reinterpret_cast<double*>(this + 1); }

    int m_nBids;
    int m_nOffers;
    bool m_bComplete;
};

}  // namespace fix
}  // namespace vantrel
