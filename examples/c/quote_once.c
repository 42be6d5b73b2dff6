/*
 * A minimal host of libvantrel: logs in, polls one symbol until its first
 * quote arrives (at most 10 s), prints the best bid and offer, logs off.
 *
 *   quote_once [HOST [PORT [SYMBOL]]]     (default 127.0.0.1 7010 EUR/USD)
 *
 * The login and password come from VANTREL_LOGIN and VANTREL_PASSWORD
 * (default "demo" and an empty password). Exit code 0 when a quote was
 * printed, 1 when the login failed, 2 when no quote came.
 */
#define _POSIX_C_SOURCE 200809L

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <vantrel/vantrel.h>

#define LEVELS 10

static const char* env_or(const char* name, const char* fallback) {
    const char* value = getenv(name);
    return value != NULL ? value : fallback;
}

int main(int argc, char** argv) {
    const char* host = argc > 1 ? argv[1] : "127.0.0.1";
    const int port = argc > 2 ? atoi(argv[2]) : 7010;
    const char* wanted = argc > 3 ? argv[3] : "EUR/USD";

    /* Blocks until the server has answered the credentials. */
    const int login = Login(host, port, env_or("VANTREL_LOGIN", "demo"),
                            env_or("VANTREL_PASSWORD", ""));
    if (login != 1 && login != 0) {
        fprintf(stderr, "Login to %s:%d failed: %d\n", host, port, login);
        return 1;
    }

    /* The library only keeps the latest quote per symbol: poll it. */
    char symbol[64];
    double bidPrices[LEVELS], bidSizes[LEVELS], offerPrices[LEVELS], offerSizes[LEVELS];
    int bids = 0, offers = 0, result = 0;
    snprintf(symbol, sizeof symbol, "%s", wanted);
    for (int attempt = 0; attempt < 100 && result != 1; ++attempt) {
        bids = LEVELS; /* in: capacity; out: entries in the message */
        offers = LEVELS;
        result = GetLastQuotes(symbol, &bids, bidPrices, bidSizes, &offers, offerPrices, offerSizes);
        if (result == 0) {
            const struct timespec pause = {0, 100 * 1000 * 1000};
            nanosleep(&pause, NULL);
        }
    }

    if (result == 1) {
        /* A count above the capacity means entries were left out. */
        const int nb = bids < LEVELS ? bids : LEVELS;
        const int no = offers < LEVELS ? offers : LEVELS;
        int best_bid = 0, best_offer = 0;
        for (int i = 1; i < nb; ++i)
            if (bidPrices[i] > bidPrices[best_bid]) best_bid = i;
        for (int i = 1; i < no; ++i)
            if (offerPrices[i] < offerPrices[best_offer]) best_offer = i;
        printf("%s: %d bids, %d offers", symbol, bids, offers);
        if (nb > 0) printf("; best bid %.6g for %.2fM", bidPrices[best_bid], bidSizes[best_bid]);
        if (no > 0) printf("; best offer %.6g for %.2fM", offerPrices[best_offer], offerSizes[best_offer]);
        printf("\n");
    } else {
        fprintf(stderr, "No quote for %s (result %d)\n", symbol, result);
    }

    Logoff(); /* one Logoff for every Login that returned 1 or 0 */
    return result == 1 ? 0 : 2;
}
