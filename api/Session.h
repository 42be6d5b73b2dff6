// Session control: Login, Logoff and GetExceptionHandler as the exported
// functions call them.
#pragma once

namespace vantrel {

int Login(const char* host, int port, const char* login, const char* password);
int Logoff();
void* GetExceptionHandler();

// Quote queries (api/QuoteQueries.cpp).
int GetLastQuotes(char* symbol, int* pnBidCount, double* pBidPrices, double* pBidSizes,
                  int* pnOfferCount, double* pOfferPrices, double* pOfferSizes);
int GetLastNQuotes(char* symbol, int n, double* pBidPrices, double* pBidSizes,
                   double* pOfferPrices, double* pOfferSizes);

namespace testing {
// Shortens the handshake bounds (milliseconds) for tests; 0 keeps a bound.
void SetHandshakeTimeouts(int nConnectMs, int nVerdictMs);
}  // namespace testing

}  // namespace vantrel
