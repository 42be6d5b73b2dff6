/*
 * Vantrel: live price quotes for trading applications.
 *
 * Link with -lvantrel (pkg-config vantrel, or find_package(Vantrel) and
 * Vantrel::vantrel). Every function may be called from any thread; none lets a
 * C++ exception or a signal reach the caller. int is 32-bit.
 *
 * Windows: vantrel.dll exports the five functions under their plain names.
 * On 32-bit Windows they use the __stdcall calling convention (VANTREL_CALL);
 * a host that finds them with GetProcAddress must declare its function
 * pointers with __stdcall (or WINAPI) too. On 64-bit Windows and on Linux
 * there is one calling convention and VANTREL_CALL is empty. Call Logoff for
 * every Login before FreeLibrary.
 *
 * Sessions are counted: every Login that returns 1 or 0 needs one Logoff. The
 * first Login connects; later ones only count; the Logoff that brings the
 * count back to zero closes the connection.
 */
#ifndef VANTREL_VANTREL_H
#define VANTREL_VANTREL_H

#if defined(_WIN32)
#define VANTREL_API /* the exports are listed in vantrel.def */
#if defined(_M_IX86) || defined(__i386__)
#define VANTREL_CALL __stdcall
#else
#define VANTREL_CALL
#endif
#elif defined(__GNUC__)
#define VANTREL_API __attribute__((visibility("default")))
#define VANTREL_CALL
#else
#define VANTREL_API
#define VANTREL_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*
 * Opens the session: connects to host:port (a dotted IPv4 address or a host
 * name; only the low 16 bits of port are used), sends login and password, and
 * waits for the server's verdict (connecting takes at most 10 s, the verdict
 * at most 30 s).
 * Returns  1  session opened, login granted;
 *          0  a session already existed: this call was counted;
 *         -1  the handshake failed (no connection, send or receive failure,
 *             time-out, credentials refused), or host, login or password is
 *             NULL (then nothing changes);
 *         -2  the receiving thread could not be started.
 * Blocks other Login and Logoff calls while it runs.
 */
VANTREL_API int VANTREL_CALL Login(const char* host, int port, const char* login, const char* password);

/*
 * Counts off one Login. The call that brings the count to zero stops the
 * receiving thread and closes the connection before it returns.
 * Returns 1 when a Login was counted off, 0 when there was no session.
 */
VANTREL_API int VANTREL_CALL Logoff(void);

/* Always NULL: the library installs no exception handler. */
VANTREL_API void* VANTREL_CALL GetExceptionHandler(void);

/*
 * Copies the bids and offers of the latest quote message received for symbol.
 *
 * symbol      the symbol, compared exactly (case-sensitive). An empty string
 *             ("") asks for any symbol: the byte-wise smallest one stored is
 *             used and written back into this buffer with its NUL, so the
 *             buffer must have room for the longest symbol the server sends.
 * *bidCount   in: capacity of bidPrices and bidSizes (at least 1);
 *             out: bid entries met in the message (may exceed the capacity,
 *             then entries were dropped; read at most capacity elements).
 * *offerCount likewise for the offer arrays.
 * Prices are copied unchanged; sizes are in millions (size * 1e-6). Entries
 * keep their order in the message; elements not written keep their values.
 *
 * Returns  1  copied;
 *          0  nothing stored for the symbol (or no quote yet, or the session
 *             was lost), or the stored message could not be decoded: nothing
 *             is written;
 *         -1  an argument is invalid (NULL pointer, capacity below 1);
 *         -2  no session (checked before the arguments).
 * Never blocks on the network; safe from many threads at once.
 */
VANTREL_API int VANTREL_CALL GetLastQuotes(char* symbol, int* bidCount, double* bidPrices, double* bidSizes,
                              int* offerCount, double* offerPrices, double* offerSizes);

/*
 * As GetLastQuotes with one capacity n (at least 1) for all four arrays; on
 * success all n elements of each array are first set to 0.0, and no counts
 * are reported. Same results.
 */
VANTREL_API int VANTREL_CALL GetLastNQuotes(char* symbol, int n, double* bidPrices, double* bidSizes,
                               double* offerPrices, double* offerSizes);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_VANTREL_H */
