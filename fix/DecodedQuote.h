// The bid and offer entries of one stored market data message, decoded once
// so that every later query of the same message copies them instead of
// parsing the message again.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace vantrel {
namespace fix {

class DecodedQuote {
public:
    // Decodes `text` as DecodeMarketDataEntries does. Bid (MDEntryType "0")
    // and offer ("1") entries are kept in message order with their sizes in
    // millions; entries of other types are passed over. A text that fails to
    // decode gives the entries read before the failure, and Complete() false.
    // Raises only std::bad_alloc.
    static std::unique_ptr<const DecodedQuote> Decode(const std::string& text);

    int Bids() const { return m_nBids; }
    int Offers() const { return m_nOffers; }
    const double* BidPrices() const { return m_values.data(); }
    const double* BidSizes() const { return m_values.data() + m_nBids; }
    const double* OfferPrices() const { return m_values.data() + 2 * m_nBids; }
    const double* OfferSizes() const { return m_values.data() + 2 * m_nBids + m_nOffers; }

    // The side of each kept entry in message order: '0' bid, '1' offer.
    const std::string& Sides() const { return m_sides; }

    // False when decoding failed after the kept entries.
    bool Complete() const { return m_bComplete; }

private:
    int m_nBids = 0;
    int m_nOffers = 0;
    bool m_bComplete = true;
    std::string m_sides;
    // Bid prices, bid sizes, offer prices, offer sizes: one block, so that a
    // query reads one allocation.
    std::vector<double> m_values;
};

}  // namespace fix
}  // namespace vantrel
