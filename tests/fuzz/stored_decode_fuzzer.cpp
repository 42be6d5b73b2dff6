// The stored-message decode and the walk of both quote queries: whatever text
// is stored, the queries return 0 or 1, write nothing beyond the capacities
// the caller gave (guard zones after every array and after the symbol), agree
// with each other, and GetLastNQuotes leaves zeros where it had no entry.
//
// Input: the first byte chooses the capacities and the mode, the rest is the
// stored text. In framed mode the rest is a message body (it starts with its
// MsgType field) given a correct BodyLength and CheckSum, so that nearly
// every input passes the store's check and reaches the decode.
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "api/Session.h"
#include "api/SessionState.h"
#include "feed/QuotesContainer.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/support/FixText.h"

namespace {

using vantrel::fuzz::Fail;

constexpr int kGuard = 4;
constexpr double kUntouched = -7.25e300;
constexpr char kSymbolGuard = '\x5a';

// A caller's array of `capacity` doubles followed by a guard zone, in its own
// allocation so that AddressSanitizer also sees a write past the guard.
class GuardedDoubles {
public:
    explicit GuardedDoubles(int capacity)
        : m_nCapacity(capacity), m_values(new double[static_cast<std::size_t>(capacity + kGuard)]) {
        for (int i = 0; i < capacity + kGuard; ++i) m_values[i] = kUntouched;
    }
    double* data() { return m_values.get(); }
    const double& operator[](int i) const { return m_values[i]; }
    // True when nothing was written from index `from` on, guard included.
    bool UntouchedFrom(int from) const {
        for (int i = from; i < m_nCapacity + kGuard; ++i) {
            if (std::memcmp(&m_values[i], &kUntouched, sizeof(double)) != 0) return false;
        }
        return true;
    }

private:
    int m_nCapacity;
    std::unique_ptr<double[]> m_values;
};

struct Side {
    GuardedDoubles prices;
    GuardedDoubles sizes;
    explicit Side(int capacity) : prices(capacity), sizes(capacity) {}
};

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof(double)) == 0; }

int Clip(int count, int capacity) { return count < capacity ? count : capacity; }

// The caller's symbol buffer: `room` bytes holding `symbol` and its NUL,
// then a guard zone.
class GuardedSymbol {
public:
    GuardedSymbol(const std::string& symbol, std::size_t room) : m_nRoom(room), m_bytes(room + kGuard, kSymbolGuard) {
        std::memcpy(m_bytes.data(), symbol.c_str(), symbol.size() + 1);
    }
    char* data() { return m_bytes.data(); }
    // The first `room` bytes.
    std::string Text() const { return std::string(m_bytes.data(), m_nRoom); }
    bool GuardIntact() const {
        for (std::size_t i = m_nRoom; i < m_bytes.size(); ++i) {
            if (m_bytes[i] != kSymbolGuard) return false;
        }
        return true;
    }

private:
    std::size_t m_nRoom;
    std::vector<char> m_bytes;
};

// GetLastQuotes with the given capacities and symbol buffer, `text` stored.
// Checks the
// result, that counts are plausible and that nothing past what it may write
// was touched.
int QueryLast(const std::string& text, GuardedSymbol& symbol, int bidCapacity, int offerCapacity, Side& bids,
              Side& offers, int& bidCount, int& offerCount) {
    bidCount = bidCapacity;
    offerCount = offerCapacity;
    const int result = vantrel::GetLastQuotes(symbol.data(), &bidCount, bids.prices.data(), bids.sizes.data(),
                                              &offerCount, offers.prices.data(), offers.sizes.data());
    if (result != 0 && result != 1) Fail("GetLastQuotes returned neither 0 nor 1", text);
    if (!symbol.GuardIntact()) Fail("GetLastQuotes wrote beyond the symbol buffer", text);
    if (result == 0) {
        if (bidCount != bidCapacity || offerCount != offerCapacity) Fail("result 0 changed the counts", text);
        if (!bids.prices.UntouchedFrom(0) || !offers.sizes.UntouchedFrom(0)) Fail("result 0 wrote values", text);
        return result;
    }
    if (bidCount < 0 || offerCount < 0) Fail("negative count", text);
    if (!bids.prices.UntouchedFrom(Clip(bidCount, bidCapacity)) ||
        !bids.sizes.UntouchedFrom(Clip(bidCount, bidCapacity)) ||
        !offers.prices.UntouchedFrom(Clip(offerCount, offerCapacity)) ||
        !offers.sizes.UntouchedFrom(Clip(offerCount, offerCapacity))) {
        Fail("GetLastQuotes wrote beyond the entries it counted or beyond the capacity", text);
    }
    return result;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    vantrel::fuzz::UseScratchLogDirectory();
    // A session as the queries see it, without a connection.
    vantrel::g_nSessionsCnt.store(1);
    vantrel::GetQuotesContainer().AddRef();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const bool bFramed = (data[0] & 0x80) != 0;
    const int bidCapacity = 1 + ((data[0] >> 4) & 7);
    const int offerCapacity = 1 + ((data[0] >> 1) & 7);
    const int n = (data[0] & 1) != 0 ? bidCapacity : offerCapacity;
    // Text up to a NUL byte, as the quotes thread hands it on.
    std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    rest.resize(rest.find('\0') == std::string::npos ? rest.size() : rest.find('\0'));
    const std::string text = bFramed ? vantrel::test::FixFramed(rest) : rest;

    vantrel::CQuotesContainer& store = vantrel::GetQuotesContainer();
    store.Clear();
    try {
        store.SetQuotes(text);
    } catch (...) {
    }
    std::string storedSymbol, stored;
    const bool bStored = store.GetAnyQuotes(storedSymbol, stored);

    // Named symbol, the capacities from the input. The buffer must come back
    // unchanged.
    const std::string named = bStored ? storedSymbol : std::string("EUR/USD");
    GuardedSymbol namedBuffer(named, named.size() + 1);
    Side bids(bidCapacity), offers(offerCapacity);
    int bidCount = 0, offerCount = 0;
    const int namedResult = QueryLast(text, namedBuffer, bidCapacity, offerCapacity, bids, offers, bidCount, offerCount);
    if (!bStored && namedResult != 0) Fail("a quote was found where none is stored", text);
    if (namedBuffer.Text() != named + '\0') Fail("a named request changed the symbol", text);

    // GetLastQuotes and GetLastNQuotes for any symbol, both with capacity n on
    // each side: they walk the same entries, so they must give the same result
    // and values. The buffer has exactly the room the stored symbol needs.
    GuardedSymbol anyBuffer("", storedSymbol.size() + 1);
    Side anyBids(n), anyOffers(n);
    int anyBidCount = 0, anyOfferCount = 0;
    const int anyResult = QueryLast(text, anyBuffer, n, n, anyBids, anyOffers, anyBidCount, anyOfferCount);
    if (anyResult == 1 && anyBuffer.Text() != storedSymbol + '\0') Fail("the any-symbol answer is not the stored symbol", text);

    Side lastBids(n), lastOffers(n);
    GuardedSymbol lastBuffer("", storedSymbol.size() + 1);
    const int last = vantrel::GetLastNQuotes(lastBuffer.data(), n, lastBids.prices.data(), lastBids.sizes.data(),
                                             lastOffers.prices.data(), lastOffers.sizes.data());
    if (last != anyResult) Fail("GetLastNQuotes and GetLastQuotes disagree on the result", text);
    if (!lastBuffer.GuardIntact()) Fail("GetLastNQuotes wrote beyond the symbol buffer", text);
    if (last == 1 && lastBuffer.Text() != storedSymbol + '\0') Fail("GetLastNQuotes named another symbol", text);
    if (last == 0) {
        if (!lastBids.prices.UntouchedFrom(0) || !lastOffers.sizes.UntouchedFrom(0)) Fail("result 0 wrote", text);
        return 0;
    }
    struct Pair {
        const Side& nquotes;
        const Side& quotes;
        int count;
    };
    for (const Pair& p : {Pair{lastBids, anyBids, anyBidCount}, Pair{lastOffers, anyOffers, anyOfferCount}}) {
        if (!p.nquotes.prices.UntouchedFrom(n) || !p.nquotes.sizes.UntouchedFrom(n)) {
            Fail("GetLastNQuotes wrote beyond n", text);
        }
        for (int i = 0; i < n; ++i) {
            const bool bEntry = i < p.count;
            if (bEntry && (!SameBits(p.nquotes.prices[i], p.quotes.prices[i]) ||
                           !SameBits(p.nquotes.sizes[i], p.quotes.sizes[i]))) {
                Fail("GetLastNQuotes and GetLastQuotes copied different values", text);
            }
            if (!bEntry && (p.nquotes.prices[i] != 0.0 || p.nquotes.sizes[i] != 0.0)) {
                Fail("GetLastNQuotes left a non-zero value where it had no entry", text);
            }
        }
    }
    return 0;
}
