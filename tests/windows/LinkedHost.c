/*
 * A host that links vantrel.dll through its import library and calls the
 * functions as declared in the header. Without a session: Logoff returns 0,
 * the queries -2, GetExceptionHandler NULL. Exit code 0 when all hold.
 */
#include <stdio.h>

#include "vantrel/vantrel.h"

int main(void) {
    char symbol[16] = "EUR/USD";
    double prices[2], sizes[2];
    int bids = 2, offers = 2;
    int failures = 0;
    if (GetExceptionHandler() != NULL) ++failures;
    if (Logoff() != 0) ++failures;
    if (GetLastQuotes(symbol, &bids, prices, sizes, &offers, prices, sizes) != -2) ++failures;
    if (GetLastNQuotes(symbol, 2, prices, sizes, prices, sizes) != -2) ++failures;
    if (Login(NULL, 0, NULL, NULL) != -1) ++failures;
    printf("vantrel_windows_linked_host: %d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
