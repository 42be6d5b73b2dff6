// The reference client of the benchmarks: the quotes client as first
// designed, built here (not in the library) so that every figure can be shown
// against it in the same run, against the same server.
//
// What sets it apart from the library: its quotes thread waits for the socket
// with a 1-microsecond readiness poll and receives one byte per receive call;
// Login and Logoff wait for the quotes thread by sleeping 1000 ms between
// looks at a flag; the store is a map under one mutex holding message texts
// only; and every query copies the text under that mutex and parses it afresh
// with the FIX 4.4 dictionary. Checks and decoding use the library's own FIX
// functions, so the two differ in structure only.
//
// The functions have the library's signatures and results; one session at a
// time, as in the library.
#pragma once

#include <cstdint>

namespace vantrel {
namespace bench {
namespace reference {

int Login(const char* host, int port, const char* login, const char* password);
int Logoff();
int GetLastQuotes(char* symbol, int* pnBidCount, double* pBidPrices, double* pBidSizes, int* pnOfferCount,
                  double* pOfferPrices, double* pOfferSizes);
int GetLastNQuotes(char* symbol, int n, double* pBidPrices, double* pBidSizes, double* pOfferPrices,
                   double* pOfferSizes);

// Payloads stored since the process started.
uint64_t StoredCount();

// Stores `payload` as the quotes thread does, while a session is active
// (false otherwise).
bool SetQuotes(const char* payload);

}  // namespace reference
}  // namespace bench
}  // namespace vantrel
