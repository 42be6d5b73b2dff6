"""Live price quotes from a Vantrel quotes server.

A pure-Python binding of the installed Vantrel library::

    import vantrel

    with vantrel.session("quotes.example", 7010, "alice", "secret") as s:
        q = s.quotes("EUR/USD")          # a Quotes snapshot, or None
        if q:
            print(q.symbol, q.bids, q.offers)

Sessions. The C library keeps ONE connection per process and counts its
sessions: the first successful ``login`` connects, later ones only count, and
the ``logoff`` that brings the count back to zero closes the connection. Every
``login`` that succeeded needs exactly one ``logoff``; ``session`` pairs them
for you, also when the block raises. Two ``session`` blocks in one process
(or in two threads) therefore share one connection, to the server of the
first: the host, port and credentials of a later login are not used while a
session is open.

Quotes. The library keeps the latest quote message per symbol while the
session lives. When the server ends the session, or the connection is lost,
the quotes are dropped: queries then return None (never a stale price), and
the session stays counted until it is logged off.

Threads. Every function may be called from any thread at the same time;
queries never block on the network, and the interpreter lock is released
during each call into the library.
"""
import ctypes
import socket
import threading
import time
from dataclasses import dataclass
from typing import Iterable, Iterator, NamedTuple, Optional, Tuple, Union

from ._errors import (
    LibraryNotFoundError,
    LoginError,
    LoginRefusedError,
    NoSessionError,
    ServerUnreachableError,
    VantrelError,
)
from ._library import library

__all__ = [
    "Level",
    "Quotes",
    "Session",
    "session",
    "login",
    "logoff",
    "quotes",
    "any_symbol",
    "VantrelError",
    "LibraryNotFoundError",
    "LoginError",
    "LoginRefusedError",
    "ServerUnreachableError",
    "NoSessionError",
]

__version__ = "0.1.0"

# Symbols come from lines of at most 1000 characters: none stored is longer.
_SYMBOL_BYTES = 1000
_FIRST_CAPACITY = 16
_REACH_TIMEOUT = 5.0


class Level(NamedTuple):
    """One bid or offer entry: the price as sent, the size in millions."""

    price: float
    size: float


@dataclass(frozen=True)
class Quotes:
    """An immutable snapshot of the latest quote message of one symbol.

    ``bids`` and ``offers`` hold every bid and offer entry of the message as
    ``Level(price, size)`` tuples, in message order; sizes are in millions.
    """

    symbol: str
    bids: Tuple[Level, ...]
    offers: Tuple[Level, ...]

    @property
    def best_bid(self) -> Optional[Level]:
        """The bid with the highest price, or None without bids."""
        return max(self.bids, key=lambda level: level.price, default=None)

    @property
    def best_offer(self) -> Optional[Level]:
        """The offer with the lowest price, or None without offers."""
        return min(self.offers, key=lambda level: level.price, default=None)


def _text(value: object, what: str) -> bytes:
    if not isinstance(value, str):
        raise TypeError(f"{what} must be a str, not {type(value).__name__}")
    if "\0" in value:
        raise ValueError(f"{what} must not contain NUL characters")
    return value.encode("utf-8", "surrogateescape")


def _symbol(value: object) -> bytes:
    encoded = _text(value, "symbol")
    if not encoded:
        raise ValueError("symbol must not be empty (any_symbol() asks for any symbol)")
    if len(encoded) > _SYMBOL_BYTES:
        raise ValueError(f"symbol is longer than {_SYMBOL_BYTES} bytes: no quote can have it")
    return encoded


def login(host: str, port: int, login: str, password: str) -> bool:
    """Opens the process-wide session, or counts one more user of it.

    Returns True when this call connected and the server granted the login,
    False when a session was already open (this call was counted and needs
    its own ``logoff``). Waits at most 10 s for the connection and 30 s for
    the server's verdict. Raises ServerUnreachableError or LoginRefusedError
    (both LoginError) when no session could be opened, VantrelError when the
    library could not start its receiving thread.
    """
    arguments = (_text(host, "host"), _text(login, "login"), _text(password, "password"))
    if not arguments[0]:
        raise ValueError("host must not be empty")
    if isinstance(port, bool) or not isinstance(port, int):
        raise TypeError(f"port must be an int, not {type(port).__name__}")
    if not 1 <= port <= 65535:
        raise ValueError(f"port must be 1-65535, not {port}")
    result = library().Login(arguments[0], port, arguments[1], arguments[2])
    if result == 1:
        return True
    if result == 0:
        return False
    if result == -1:
        raise _login_failure(host, port, login)
    raise VantrelError(f"the library could not start its receiving thread (Login returned {result})")


def _login_failure(host: str, port: int, user: str) -> LoginError:
    """The library answers -1 for an unreachable server and a refused login
    alike; one plain TCP connection (closed at once, nothing sent) tells them
    apart."""
    try:
        socket.create_connection((host, port), timeout=_REACH_TIMEOUT).close()
    except OSError as error:
        return ServerUnreachableError(
            f"cannot connect to {host}:{port}: {error.strerror or error}; check the host, the port, "
            "and that the quotes server is running and reachable from here"
        )
    return LoginRefusedError(
        f"{host}:{port} did not grant the login for {user!r}: check the login and the password "
        "(the server may also have given no verdict within 30 s; its log says why)"
    )


def logoff() -> bool:
    """Counts off one successful ``login``; the last one closes the connection
    before it returns. Returns False when there was no session."""
    return library().Logoff() == 1


def _query(buffer: ctypes.Array) -> Optional[Quotes]:
    lib = library()
    capacity = _FIRST_CAPACITY
    for _ in range(8):
        prices = [(ctypes.c_double * capacity)() for _ in range(4)]
        n_bids, n_offers = ctypes.c_int(capacity), ctypes.c_int(capacity)
        result = lib.GetLastQuotes(buffer, ctypes.byref(n_bids), prices[0], prices[1],
                                   ctypes.byref(n_offers), prices[2], prices[3])
        if result == 0:
            return None
        if result == -2:
            raise NoSessionError("no session is open: log in first")
        if result != 1:
            raise VantrelError(f"GetLastQuotes returned {result}")
        # A count above the capacity means entries were left out: ask again
        # with room for them (the message may have changed in between).
        if n_bids.value <= capacity and n_offers.value <= capacity:
            break
        capacity = max(n_bids.value, n_offers.value)
    bids = tuple(Level(prices[0][i], prices[1][i]) for i in range(min(n_bids.value, capacity)))
    offers = tuple(Level(prices[2][i], prices[3][i]) for i in range(min(n_offers.value, capacity)))
    return Quotes(buffer.value.decode("utf-8", "surrogateescape"), bids, offers)


def quotes(symbol: str) -> Optional[Quotes]:
    """The snapshot of the latest quote message for ``symbol`` (compared
    exactly), or None when none is stored. Raises NoSessionError without a
    session."""
    encoded = _symbol(symbol)
    return _query(ctypes.create_string_buffer(encoded, len(encoded) + 1))


def any_symbol() -> Optional[Quotes]:
    """The snapshot of one stored symbol (the byte-wise smallest), or None
    when nothing is stored. Raises NoSessionError without a session."""
    return _query(ctypes.create_string_buffer(b"", _SYMBOL_BYTES + 1))


class Session:
    """One counted session of the process-wide connection; see ``session``.

    Queries through a closed Session raise NoSessionError even when another
    session of the process keeps the connection open.
    """

    def __init__(self, host: str, port: int, login_name: str, password: str) -> None:
        self.host = host
        self.port = port
        self.login = login_name
        self._password = password
        self._closed = threading.Event()
        self._closed.set()
        self._lock = threading.Lock()
        #: True when this session opened the connection, False when it joined
        #: one already open.
        self.connected_here = False

    def __repr__(self) -> str:
        state = "closed" if self.closed else "open"
        return f"<vantrel.Session {self.login}@{self.host}:{self.port} {state}>"

    @property
    def closed(self) -> bool:
        return self._closed.is_set()

    def open(self) -> "Session":
        with self._lock:
            if not self.closed:
                return self
            self.connected_here = login(self.host, self.port, self.login, self._password)
            self._closed.clear()
        return self

    def close(self) -> None:
        """Logs this session off; a second call does nothing."""
        with self._lock:
            if self.closed:
                return
            self._closed.set()
            logoff()

    def __enter__(self) -> "Session":
        return self.open()

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def _check(self) -> None:
        if self.closed:
            raise NoSessionError("this session is closed")

    def quotes(self, symbol: str) -> Optional[Quotes]:
        """As ``vantrel.quotes``."""
        self._check()
        return quotes(symbol)

    def any_symbol(self) -> Optional[Quotes]:
        """As ``vantrel.any_symbol``."""
        self._check()
        return any_symbol()

    def poll(self, symbols: Union[str, Iterable[str]], interval: float = 0.5,
             timeout: Optional[float] = None) -> Iterator[Quotes]:
        """Yields a snapshot whenever one of ``symbols`` has a quote that
        differs from the last one yielded for it (the first quote included).

        Checks every ``interval`` seconds, sleeping in between (no busy wait);
        ends after ``timeout`` seconds when given, or when the session is
        closed (also from another thread). A symbol whose quote was dropped
        (the session was lost) yields again when a quote returns.
        """
        names = [symbols] if isinstance(symbols, str) else list(symbols)
        if not names:
            raise ValueError("symbols must name at least one symbol")
        for name in names:
            _symbol(name)
        if not interval > 0:
            raise ValueError("interval must be above 0")
        self._check()
        return self._poll(names, interval, timeout)

    def _poll(self, names: list, interval: float, timeout: Optional[float]) -> Iterator[Quotes]:
        end = None if timeout is None else time.monotonic() + timeout
        last: dict = {}
        while not self.closed:
            for name in names:
                snapshot = quotes(name)
                if snapshot is not None and last.get(name) != snapshot:
                    yield snapshot
                last[name] = snapshot
            wait = interval if end is None else min(interval, end - time.monotonic())
            if wait <= 0 or self._closed.wait(wait):
                return


def session(host: str, port: int, login: str, password: str) -> Session:
    """A session to use in a ``with`` block: logs in on entry (raising
    LoginError when that fails) and logs off on exit, also on exceptions.
    The connection is process-wide and counted; see the module's docs."""
    return Session(host, port, login, password)
