"""python -m vantrel: one snapshot of live quotes, as a table or JSON lines.

Same connection options, environment variables and exit codes as the
vantrel-quotes tool: 0 done; 1 the library could not be loaded or could not
start its receiving thread; 2 bad options; 3 login refused; 4 the server
cannot be reached; 5 the server ended the session; 6 some symbol had no quote
within --wait seconds.
"""
import argparse
import getpass
import json
import os
import sys
import time
from typing import Dict, List, Optional, Sequence

from . import (
    LoginRefusedError,
    NoSessionError,
    Quotes,
    ServerUnreachableError,
    VantrelError,
    session,
)

EXIT_OK, EXIT_FAILURE, EXIT_USAGE, EXIT_REFUSED, EXIT_UNREACHABLE, EXIT_LOST, EXIT_NO_QUOTES = range(7)

# Without --symbols, the common currency pairs are probed by name in both
# styles, as vantrel-quotes does; the public API has no call that lists symbols.
_CURRENCIES = ["USD", "EUR", "JPY", "GBP", "CHF", "AUD", "NZD", "CAD", "NOK", "SEK", "DKK", "XAU", "XAG"]
_CANDIDATES = [f"{a}{sep}{b}" for a in _CURRENCIES for b in _CURRENCIES if a != b for sep in ("/", "")]
_EXIT_CODES = [(ServerUnreachableError, EXIT_UNREACHABLE), (LoginRefusedError, EXIT_REFUSED),
               (NoSessionError, EXIT_LOST), (VantrelError, EXIT_FAILURE)]
_SETTLE = 1.0
_STEP = 0.05


def _escape(text: str) -> str:
    """Control characters of server texts shown escaped, never sent raw to a terminal."""
    return "".join(c if c.isprintable() else repr(c)[1:-1] for c in text)


def _arguments(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    env = os.environ
    parser = argparse.ArgumentParser(
        prog="python -m vantrel",
        description="Logs in, waits for the quotes of the given symbols and prints one snapshot.",
        epilog="Exit codes: 0 done, 1 library failure, 2 bad options, 3 login refused, "
               "4 server unreachable, 5 session ended by the server, 6 no quote in time.")
    parser.add_argument("--host", default=env.get("VANTREL_HOST") or "127.0.0.1")
    parser.add_argument("--port", type=int, default=None, help="1-65535 (default VANTREL_PORT or 7010)")
    parser.add_argument("--login", default=env.get("VANTREL_LOGIN") or "demo")
    parser.add_argument("--password", help="visible in the process list; prefer VANTREL_PASSWORD")
    parser.add_argument("--password-file", help="the password is the file's first line")
    parser.add_argument("--symbols", help="comma-separated symbols (default: discover)")
    parser.add_argument("--wait", type=float, default=10.0, help="longest wait in seconds (default 10)")
    parser.add_argument("--log-dir", help="the library's log directory")
    parser.add_argument("--json", action="store_true", help="one JSON object per line")
    args = parser.parse_args(argv)
    if args.port is None:
        text = env.get("VANTREL_PORT") or "7010"
        if not text.isdigit():
            parser.error(f"invalid VANTREL_PORT '{text}' (1-65535)")
        args.port = int(text)
    if not 1 <= args.port <= 65535:
        parser.error(f"invalid port {args.port} (1-65535)")
    if not args.wait >= 0:
        parser.error("--wait must be 0 or more")
    args.symbols = [s for s in args.symbols.split(",")] if args.symbols is not None else []
    if any(not s for s in args.symbols):
        parser.error("invalid symbol list (comma-separated symbols, none empty)")
    if args.password is None and args.password_file:
        try:
            with open(args.password_file, encoding="utf-8") as f:
                args.password = f.readline().rstrip("\r\n")
        except OSError as error:
            parser.error(f"cannot read the password file {args.password_file}: {error.strerror}")
    if args.password is None:
        args.password = env.get("VANTREL_PASSWORD")
    if args.password is None:
        args.password = getpass.getpass(f"Password for {args.login}: ") if sys.stdin.isatty() else ""
    return args


def _collect(s, symbols: List[str], wait: float) -> Dict[str, Optional[Quotes]]:
    """Waits until every symbol has a quote (or, discovering, until no new
    symbol appeared for a second), at most ``wait`` seconds."""
    discover = not symbols
    found: Dict[str, Optional[Quotes]] = {name: None for name in symbols}
    end = time.monotonic() + wait
    last_new = time.monotonic()
    seen_any = False
    while True:
        if discover:
            for snapshot in filter(None, [s.any_symbol()] + [s.quotes(c) for c in _CANDIDATES]):
                if snapshot.symbol not in found:
                    last_new = time.monotonic()
                found[snapshot.symbol] = snapshot
        else:
            for name in symbols:
                found[name] = s.quotes(name) or found[name]
        quoted = [q for q in found.values() if q is not None]
        if seen_any and not any(s.quotes(q.symbol) for q in quoted):
            raise NoSessionError("the server ended the session")
        seen_any = seen_any or bool(quoted)
        complete = all(found.values()) and (not discover or (found and time.monotonic() - last_new >= _SETTLE))
        if complete or time.monotonic() >= end:
            return found
        time.sleep(_STEP)


def _print(found: Dict[str, Optional[Quotes]], as_json: bool) -> None:
    if not as_json:
        print(f"{'symbol':<12} {'bid':>14} {'size':>9}  {'offer':>14} {'size':>9}  depth")
    for name in sorted(found):
        q = found[name]
        if as_json:
            record = {"symbol": name, "bids": None, "offers": None} if q is None else {
                "symbol": q.symbol, "bids": [list(level) for level in q.bids],
                "offers": [list(level) for level in q.offers]}
            print(json.dumps(record, ensure_ascii=True))
            continue
        if q is None:
            print(f"{_escape(name):<12} {'no quote':>14}")
            continue
        bid, offer = q.best_bid, q.best_offer
        cells = [f"{bid.price:>14.6g} {bid.size:>8.2f}M" if bid else f"{'-':>24}",
                 f"{offer.price:>14.6g} {offer.size:>8.2f}M" if offer else f"{'-':>24}"]
        print(f"{_escape(q.symbol):<12} {cells[0]}  {cells[1]}  {len(q.bids)}x{len(q.offers)}")


def main(argv: Optional[Sequence[str]] = None) -> int:
    args = _arguments(argv)
    if args.log_dir:
        os.environ["VANTREL_LOG_DIR"] = args.log_dir
    try:
        with session(args.host, args.port, args.login, args.password) as s:
            found = _collect(s, args.symbols, args.wait)
    except VantrelError as error:
        # The most specific class decides; LibraryNotFoundError and any other
        # failure of the library end with 1.
        code = next(c for kind, c in _EXIT_CODES if isinstance(error, kind))
        print(f"python -m vantrel: {error}", file=sys.stderr)
        return code
    if not found:
        print(f"python -m vantrel: no symbol found within {args.wait:g} s (give them with --symbols)",
              file=sys.stderr)
        return EXIT_NO_QUOTES
    _print(found, args.json)
    missing = [name for name, q in found.items() if q is None]
    if missing:
        print(f"python -m vantrel: no quote within {args.wait:g} s for {' '.join(map(_escape, missing))}",
              file=sys.stderr)
        return EXIT_NO_QUOTES
    return EXIT_OK


if __name__ == "__main__":
    sys.exit(main())
