/* The host program of scripts/soak.sh: a plain C host of the library, as a
 * user would write one. It logs in, queries the symbols S000 .. S<n-1> on two
 * threads without pause (one with GetLastQuotes, one with GetLastNQuotes),
 * and prints its peak and current resident size once a minute, with the
 * queries made in that minute and how many of them found a quote.
 *
 *   soak_host HOST PORT SYMBOLS SECONDS
 *
 * Output, one line a minute:
 *   minute 3: peak resident 9876 kB, resident 9876 kB, 1234567 queries, 1234000 found
 * A session that ends releases its quotes, so a minute in which no query
 * found one means the session did not last.
 * Exit code 0 when every minute found quotes and Logoff returned 1. */
/* clock_gettime and clock_nanosleep are POSIX, beyond C11. */
#define _POSIX_C_SOURCE 200809L

#include <pthread.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <vantrel/vantrel.h>

#define LEVELS 10

static int g_nSymbols;
static atomic_int g_bStop;
static atomic_ullong g_nQueries;
static atomic_ullong g_nFound;

static void* query_loop(void* arg) {
    const int nth = *(const int*)arg;
    double bidPx[LEVELS], bidSz[LEVELS], offerPx[LEVELS], offerSz[LEVELS];
    for (unsigned long long i = 0; !atomic_load(&g_bStop); ++i) {
        char symbol[16];
        snprintf(symbol, sizeof symbol, "S%03d", (int)(i % (unsigned)g_nSymbols));
        int result;
        if (nth == 0) {
            int bids = LEVELS, offers = LEVELS;
            result = GetLastQuotes(symbol, &bids, bidPx, bidSz, &offers, offerPx, offerSz);
        } else {
            result = GetLastNQuotes(symbol, LEVELS, bidPx, bidSz, offerPx, offerSz);
        }
        atomic_fetch_add(&g_nQueries, 1);
        if (result == 1) atomic_fetch_add(&g_nFound, 1);
    }
    return NULL;
}

/* A "Name:   123 kB" line of /proc/self/status, in kB; -1 when missing. */
static long status_kb(const char* name) {
    FILE* status = fopen("/proc/self/status", "r");
    char line[256];
    long value = -1;
    const size_t length = strlen(name);
    if (status == NULL) return -1;
    while (fgets(line, sizeof line, status) != NULL) {
        if (strncmp(line, name, length) == 0 && line[length] == ':') {
            value = strtol(line + length + 1, NULL, 10);
            break;
        }
    }
    fclose(status);
    return value;
}

int main(int argc, char** argv) {
    if (argc != 5) {
        fprintf(stderr, "usage: soak_host HOST PORT SYMBOLS SECONDS\n");
        return 64;
    }
    g_nSymbols = atoi(argv[3]);
    const int seconds = atoi(argv[4]);
    if (g_nSymbols < 1 || g_nSymbols > 1000 || seconds < 1) return 64;

    const int login = Login(argv[1], atoi(argv[2]), "soak", "soak");
    if (login != 1) {
        fprintf(stderr, "Login returned %d\n", login);
        return 1;
    }
    pthread_t threads[2];
    int which[2] = {0, 1};
    for (int t = 0; t < 2; ++t) {
        if (pthread_create(&threads[t], NULL, query_loop, &which[t]) != 0) {
            fprintf(stderr, "cannot start a query thread\n");
            return 1;
        }
    }

    /* One report at the end of every minute; the last one when the time is
     * up, even if that is inside a minute. */
    struct timespec start;
    clock_gettime(CLOCK_MONOTONIC, &start);
    const int minutes = (seconds + 59) / 60;
    unsigned long long nQueriesBefore = 0, nFoundBefore = 0;
    int bEveryMinuteFound = 1;
    for (int minute = 1; minute <= minutes; ++minute) {
        const int at = minute * 60 < seconds ? minute * 60 : seconds;
        const struct timespec until = {start.tv_sec + at, start.tv_nsec};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) != 0) {
        }
        /* Found before queries: a query counts as made before it counts as
         * found, so a minute never shows more found than made. */
        const unsigned long long nFound = atomic_load(&g_nFound);
        const unsigned long long nQueries = atomic_load(&g_nQueries);
        printf("minute %d: peak resident %ld kB, resident %ld kB, %llu queries, %llu found\n", minute,
               status_kb("VmHWM"), status_kb("VmRSS"), nQueries - nQueriesBefore, nFound - nFoundBefore);
        fflush(stdout);
        if (nFound == nFoundBefore) bEveryMinuteFound = 0;
        nQueriesBefore = nQueries;
        nFoundBefore = nFound;
    }
    atomic_store(&g_bStop, 1);
    for (int t = 0; t < 2; ++t) pthread_join(threads[t], NULL);
    const int logoff = Logoff();
    if (logoff != 1) {
        fprintf(stderr, "Logoff returned %d\n", logoff);
        return 1;
    }
    return bEveryMinuteFound ? 0 : 1;
}
