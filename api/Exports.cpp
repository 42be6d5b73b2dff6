// The five functions the library exports. Each catches everything, so no
// C++ exception ever reaches the host; the result of a call that failed
// unexpectedly (memory exhaustion) is its "nothing done" value.
#include "vantrel/vantrel.h"

#include "api/Session.h"

extern "C" {

VANTREL_API int VANTREL_CALL Login(const char* host, int port, const char* login, const char* password) {
    try {
        return vantrel::Login(host, port, login, password);
    } catch (...) {
        return -1;
    }
}

VANTREL_API int VANTREL_CALL Logoff(void) {
    try {
        return vantrel::Logoff();
    } catch (...) {
        return 0;
    }
}

VANTREL_API void* VANTREL_CALL GetExceptionHandler(void) { return vantrel::GetExceptionHandler(); }

VANTREL_API int VANTREL_CALL GetLastQuotes(char* symbol, int* bidCount, double* bidPrices, double* bidSizes,
                              int* offerCount, double* offerPrices, double* offerSizes) {
    try {
        return vantrel::GetLastQuotes(symbol, bidCount, bidPrices, bidSizes, offerCount, offerPrices,
                                      offerSizes);
    } catch (...) {
        return 0;
    }
}

VANTREL_API int VANTREL_CALL GetLastNQuotes(char* symbol, int n, double* bidPrices, double* bidSizes,
                               double* offerPrices, double* offerSizes) {
    try {
        return vantrel::GetLastNQuotes(symbol, n, bidPrices, bidSizes, offerPrices, offerSizes);
    } catch (...) {
        return 0;
    }
}

}  // extern "C"
