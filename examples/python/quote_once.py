#!/usr/bin/env python3
"""A Python host of libvantrel through ctypes.

Logs in, polls one symbol until its first quote arrives (at most 10 s),
prints its bids and offers, logs off.

    quote_once.py [HOST [PORT [SYMBOL]]]     (default 127.0.0.1 7010, any symbol)

Without SYMBOL it uses the library's any-symbol query, which answers for the
byte-wise smallest symbol it holds and writes that symbol back into the
caller's buffer. The login and password come from VANTREL_LOGIN and
VANTREL_PASSWORD (default "demo" and an empty password); VANTREL_LIBRARY may
name the shared object (default: libvantrel.so.0 from the loader's path, so
for a library installed under a prefix the loader does not search, set
VANTREL_LIBRARY=PREFIX/lib/libvantrel.so.0 or LD_LIBRARY_PATH=PREFIX/lib).
Exit code 0 when a quote was printed, 1 when the login failed, 2 when no
quote came, 3 when the library could not be loaded.
"""
import ctypes
import os
import sys
import time

LEVELS = 10
# Room for any symbol the library can write back: it reads lines of at most
# 1000 characters, so no stored symbol is longer.
SYMBOL_BUFFER = 1024

LOGIN_RESULTS = {
    1: "login granted",
    0: "a session already existed; this login was counted",
    -1: "login failed (no connection, no verdict in time, or credentials refused)",
    -2: "the library could not start its receiving thread",
}
QUERY_RESULTS = {1: "copied", 0: "no quote stored", -1: "invalid argument", -2: "no session"}


def load_library():
    # The library's log goes beside the host executable unless told
    # otherwise; for an interpreter that is a system directory.
    state = os.environ.get("XDG_STATE_HOME") or os.path.expanduser("~/.local/state")
    os.environ.setdefault("VANTREL_LOG_DIR", os.path.join(state, "vantrel"))

    lib = ctypes.CDLL(os.environ.get("VANTREL_LIBRARY") or "libvantrel.so.0")
    int_p = ctypes.POINTER(ctypes.c_int)
    double_p = ctypes.POINTER(ctypes.c_double)
    # The symbol is an in/out character buffer: declared as POINTER(c_char)
    # so that only a writable ctypes buffer is accepted, never a bytes object.
    char_p = ctypes.POINTER(ctypes.c_char)

    lib.Login.argtypes = [ctypes.c_char_p, ctypes.c_int, ctypes.c_char_p, ctypes.c_char_p]
    lib.Login.restype = ctypes.c_int
    lib.Logoff.argtypes = []
    lib.Logoff.restype = ctypes.c_int
    lib.GetExceptionHandler.argtypes = []
    lib.GetExceptionHandler.restype = ctypes.c_void_p
    lib.GetLastQuotes.argtypes = [char_p, int_p, double_p, double_p, int_p, double_p, double_p]
    lib.GetLastQuotes.restype = ctypes.c_int
    lib.GetLastNQuotes.argtypes = [char_p, ctypes.c_int, double_p, double_p, double_p, double_p]
    lib.GetLastNQuotes.restype = ctypes.c_int
    return lib


def get_last_quotes(lib, symbol_buffer):
    """One query. Returns (result, bids, offers), each side a list of
    (price, size in millions) in message order."""
    Levels = ctypes.c_double * LEVELS
    bid_px, bid_sz, offer_px, offer_sz = Levels(), Levels(), Levels(), Levels()
    n_bids = ctypes.c_int(LEVELS)     # in: capacity; out: entries in the message
    n_offers = ctypes.c_int(LEVELS)
    result = lib.GetLastQuotes(symbol_buffer, ctypes.byref(n_bids), bid_px, bid_sz,
                               ctypes.byref(n_offers), offer_px, offer_sz)
    if result != 1:
        return result, [], []
    # A count above the capacity means entries were left out.
    bids = [(bid_px[i], bid_sz[i]) for i in range(min(n_bids.value, LEVELS))]
    offers = [(offer_px[i], offer_sz[i]) for i in range(min(n_offers.value, LEVELS))]
    return result, bids, offers


def main(argv):
    host = argv[1] if len(argv) > 1 else "127.0.0.1"
    port = int(argv[2]) if len(argv) > 2 else 7010
    symbol = argv[3] if len(argv) > 3 else ""

    try:
        lib = load_library()
    except (OSError, AttributeError) as e:  # not found, or not this library
        print(f"Cannot load the Vantrel library: {e}\n"
              "Set VANTREL_LIBRARY to the path of libvantrel.so.0, or add its directory to "
              "LD_LIBRARY_PATH.", file=sys.stderr)
        return 3
    login = lib.Login(host.encode(), port, os.environ.get("VANTREL_LOGIN", "demo").encode(),
                      os.environ.get("VANTREL_PASSWORD", "").encode())
    print(f"Login: {LOGIN_RESULTS.get(login, login)}")
    if login not in (0, 1):
        return 1
    try:
        buffer = ctypes.create_string_buffer(symbol.encode(), SYMBOL_BUFFER)
        result = 0
        for _ in range(100):
            buffer.value = symbol.encode()  # "" asks for any symbol
            result, bids, offers = get_last_quotes(lib, buffer)
            if result != 0:
                break
            time.sleep(0.1)
        if result != 1:
            print(f"No quote for {symbol or 'any symbol'}: {QUERY_RESULTS.get(result, result)}")
            return 2
        print(f"{buffer.value.decode()}: {len(bids)} bids, {len(offers)} offers")
        for price, size in bids:
            print(f"  bid   {price:.6g}  {size:.2f}M")
        for price, size in offers:
            print(f"  offer {price:.6g}  {size:.2f}M")
        return 0
    finally:
        lib.Logoff()  # one Logoff for every Login that returned 1 or 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
