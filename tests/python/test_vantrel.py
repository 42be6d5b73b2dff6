"""The vantrel package against the feed simulator."""
import ctypes
import dataclasses
import json
import os
import socket
import subprocess
import sys
import tempfile
import time

import pytest

import vantrel
from vantrel import _library

LOGIN, PASSWORD = "pyhost", "pw"
SYMBOLS = ["AUD/USD", "EUR/USD", "USD/JPY"]


@pytest.fixture(scope="module")
def env():
    """A feed simulator on a free loopback port, the library's log in a
    scratch directory and no settings file."""
    with tempfile.TemporaryDirectory() as work:
        os.environ["VANTREL_LOG_DIR"] = os.path.join(work, "log")
        os.environ["VANTREL_CONFIG"] = os.path.join(work, "none.cfg")
        port_file = os.path.join(work, "port")
        feedsim = subprocess.Popen(
            [os.environ["VANTREL_FEEDSIM"], "--port", "0", "--port-file", port_file, "--quiet",
             "--duration", "170", "--symbols", ",".join(SYMBOLS), "--depth", "5", "--rate", "20",
             "--login", LOGIN, "--password", PASSWORD], stdout=subprocess.DEVNULL)
        try:
            while not (os.path.exists(port_file) and open(port_file).read().strip()):
                assert feedsim.poll() is None, "the simulator ended before listening"
                time.sleep(0.02)
            yield {"port": int(open(port_file).read()), "work": work}
        finally:
            feedsim.terminate()
            feedsim.wait()
            assert not vantrel.logoff(), "a test left a session open"


def first_quotes(s, symbol):
    return next(s.poll(symbol, interval=0.02, timeout=10))


def c_api(symbol):
    """The raw C query, as a C host makes it."""
    n = 8
    arrays = [(ctypes.c_double * n)() for _ in range(4)]
    counts = ctypes.c_int(n), ctypes.c_int(n)
    result = _library.library().GetLastQuotes(ctypes.create_string_buffer(symbol.encode()),
                                              ctypes.byref(counts[0]), arrays[0], arrays[1],
                                              ctypes.byref(counts[1]), arrays[2], arrays[3])
    assert result == 1
    return ([(arrays[0][i], arrays[1][i]) for i in range(counts[0].value)],
            [(arrays[2][i], arrays[3][i]) for i in range(counts[1].value)])


@pytest.mark.parametrize("first_capacity", [16, 2])
def test_snapshot_equals_the_c_api(env, monkeypatch, first_capacity):
    monkeypatch.setattr(vantrel, "_FIRST_CAPACITY", first_capacity)  # 2: the query grows its arrays
    with vantrel.session("127.0.0.1", env["port"], LOGIN, PASSWORD) as s:
        first_quotes(s, "EUR/USD")
        for _ in range(20):  # a new message may arrive between the calls
            before, raw, after = s.quotes("EUR/USD"), c_api("EUR/USD"), s.quotes("EUR/USD")
            if before == after:
                break
        assert (list(map(tuple, before.bids)), list(map(tuple, before.offers))) == raw
        assert len(before.bids) == len(before.offers) == 5 and before.symbol == "EUR/USD"
        assert before.best_bid.price < before.best_offer.price
        with pytest.raises(dataclasses.FrozenInstanceError):
            before.symbol = "X"
        assert s.any_symbol().symbol == "AUD/USD"  # the byte-wise smallest
        assert s.quotes("NO/SUCH") is None


def test_sessions_are_counted_and_paired_on_exceptions(env):
    with pytest.raises(RuntimeError):
        with vantrel.session("127.0.0.1", env["port"], LOGIN, PASSWORD) as outer:
            assert outer.connected_here
            with vantrel.session("127.0.0.1", env["port"], LOGIN, "ignored while one is open") as inner:
                assert not inner.connected_here
            assert first_quotes(outer, "USD/JPY").symbol == "USD/JPY"  # still connected
            raise RuntimeError("the host's own failure")
    assert outer.closed and not vantrel.logoff()


def closed_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


@pytest.mark.parametrize("call, error", [
    (lambda port: vantrel.login("127.0.0.1", port, LOGIN, "wrong"), vantrel.LoginRefusedError),
    (lambda port: vantrel.login("127.0.0.1", closed_port(), LOGIN, PASSWORD), vantrel.ServerUnreachableError),
    (lambda port: vantrel.quotes("EUR/USD"), vantrel.NoSessionError),
    (lambda port: vantrel.session("127.0.0.1", port, LOGIN, PASSWORD).quotes("EUR/USD"), vantrel.NoSessionError),
    (lambda port: vantrel.login("127.0.0.1", 70000, LOGIN, PASSWORD), ValueError),
    (lambda port: vantrel.login("127.0.0.1", "7010", LOGIN, PASSWORD), TypeError),
    (lambda port: vantrel.quotes(""), ValueError),
    (lambda port: vantrel.quotes(b"EUR/USD"), TypeError),
    (lambda port: vantrel.quotes("EUR\0USD"), ValueError),
])
def test_failures_raise_with_their_meaning(env, call, error):
    with pytest.raises(error) as raised:
        call(env["port"])
    if issubclass(error, vantrel.LoginError):
        assert ("password" if error is vantrel.LoginRefusedError else "port") in str(raised.value)


def test_a_missing_library_says_what_to_set():
    code = "import vantrel\ntry:\n vantrel.logoff()\nexcept vantrel.LibraryNotFoundError as e:\n print(e)"
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True,
                         env=dict(os.environ, VANTREL_LIBRARY="/no/such/libvantrel.so.0")).stdout
    assert "VANTREL_LIBRARY" in out and "LD_LIBRARY_PATH" in out


def test_poll_yields_changes_only(env):
    with vantrel.session("127.0.0.1", env["port"], LOGIN, PASSWORD) as s:
        seen = []
        for snapshot in s.poll(["EUR/USD", "USD/JPY"], interval=0.02, timeout=20):
            seen.append(snapshot)
            if len(seen) == 6:
                break
    assert len(seen) == 6
    for symbol in ("EUR/USD", "USD/JPY"):
        mine = [q for q in seen if q.symbol == symbol]
        assert all(a != b for a, b in zip(mine, mine[1:]))


@pytest.mark.parametrize("args, password, code", [
    (["--json", "--symbols", "EUR/USD,USD/JPY"], PASSWORD, 0),
    (["--json"], PASSWORD, 0),
    (["--symbols", "EUR/USD"], "wrong", 3),
    (["--symbols", "EUR/USD", "--port", str(closed_port())], PASSWORD, 4),
    (["--symbols", "NO/SUCH", "--wait", "0.5"], PASSWORD, 6),
    (["--symbols", ",EUR/USD"], PASSWORD, 2),
])
def test_command_line(env, args, password, code):
    run = subprocess.run([sys.executable, "-m", "vantrel", "--port", str(env["port"]), "--login", LOGIN] + args,
                         capture_output=True, text=True, timeout=60, stdin=subprocess.DEVNULL,
                         env=dict(os.environ, VANTREL_PASSWORD=password))
    assert run.returncode == code, run.stderr
    if "--json" in args and code == 0:
        records = [json.loads(line) for line in run.stdout.splitlines()]
        expected = ["EUR/USD", "USD/JPY"] if "--symbols" in args else SYMBOLS
        assert [r["symbol"] for r in records] == expected
        assert all(len(r["bids"]) == 5 and all(len(level) == 2 for level in r["bids"]) for r in records)
