#!/usr/bin/env python3
"""vantrel-feedsim as a quotes server, seen from a raw TCP client.

Checks the handshake, the line format, the FIX framing (BodyLength and
CheckSum computed here, independently of QuickFIX), several clients at once,
the limits, and the command line. Usage: feedsim_protocol_test.py FEEDSIM
"""
import os
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

FEEDSIM = None
SOH = b"\x01"
TIMEOUT = 10


class Feedsim:
    """A simulator on a free loopback port, stopped at the end."""

    def __init__(self, *args, preexec_fn=None):
        self.dir = tempfile.TemporaryDirectory()
        self.port_file = os.path.join(self.dir.name, "port")
        self.process = subprocess.Popen(
            [FEEDSIM, "--port", "0", "--port-file", self.port_file, "--duration", "60",
             "--quiet", *args],
            stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=preexec_fn)
        # The port file appears complete once the server listens.
        deadline = time.monotonic() + TIMEOUT
        while not os.path.exists(self.port_file):
            if self.process.poll() is not None or time.monotonic() > deadline:
                raise RuntimeError("feedsim did not start: " + self.process.stderr.read().decode())
            time.sleep(0.02)
        with open(self.port_file) as f:
            self.port = int(f.read())

    def connect(self, login=b"demo", password=b"secret", eol=b"\r\n"):
        sock = socket.create_connection(("127.0.0.1", self.port), timeout=TIMEOUT)
        if login is not None:
            sock.sendall(login + eol + password + eol)
        return sock, sock.makefile("rb")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        code = self.process.wait(timeout=TIMEOUT)
        self.process.stdout.close()
        self.process.stderr.close()
        self.dir.cleanup()
        return code

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        if self.process.poll() is None:
            self.process.kill()
        self.stop()


def parse_fix(payload):
    """Checks the framing of one FIX message and returns its fields in order."""
    assert payload.endswith(SOH), payload
    fields = [f.split(b"=", 1) for f in payload[:-1].split(SOH)]
    assert fields[0] == [b"8", b"FIX.4.4"], fields[0]
    assert fields[1][0] == b"9" and fields[-1][0] == b"10", payload
    body_start = payload.index(SOH) + 1
    body_start = payload.index(SOH, body_start) + 1
    trailer = payload.rindex(b"10=")
    assert int(fields[1][1]) == trailer - body_start, "BodyLength"
    assert fields[-1][1] == b"%03d" % (sum(payload[:trailer]) % 256), "CheckSum"
    return [(int(tag), value.decode()) for tag, value in fields]


def quote(line, eol):
    """The FIX fields of one quote line."""
    assert line.endswith(eol) and (eol == b"\r\n" or not line.endswith(b"\r\n")), line
    text = line[:-len(eol)]
    assert text.count(b"[QT]") == 1, text
    return parse_fix(text.split(b"[QT]", 1)[1])


def entries(fields):
    """(type, price, size) of each NoMDEntries entry, in order."""
    result = []
    for tag, value in fields:
        if tag == 269:
            result.append([value])
        elif tag in (270, 271):
            result[-1].append(float(value))
    return [tuple(e) for e in result]


class Protocol(unittest.TestCase):
    def test_granted_client_gets_every_symbol_then_a_stream(self):
        with Feedsim("--crlf", "--depth", "2", "--rate", "50", "--symbols",
                     "EUR/USD,USD/JPY=150", "--login", "alice", "--password", "pw") as sim:
            sock, reader = sim.connect(b"alice", b"pw")
            self.assertEqual(reader.readline(), b"#1 Login granted\r\n")
            symbols = []
            seqnums = []
            for _ in range(6):
                fields = quote(reader.readline(), b"\r\n")
                tags = dict(fields)
                self.assertEqual(tags[35], "W")
                self.assertEqual(tags[56], "alice")
                self.assertEqual(tags[268], "4")
                types = [e[0] for e in entries(fields)]
                self.assertEqual(types, ["0", "0", "1", "1"])
                bids, offers = entries(fields)[:2], entries(fields)[2:]
                self.assertGreater(bids[0][1], bids[1][1])
                self.assertLess(bids[0][1], offers[0][1])
                self.assertLess(offers[0][1], offers[1][1])
                symbols.append(tags[55])
                seqnums.append(int(tags[34]))
            self.assertEqual(symbols, ["EUR/USD", "USD/JPY"] * 3)
            self.assertEqual(seqnums, list(range(1, 7)))
            sock.close()
            self.assertEqual(sim.stop(), 0)

    def test_refused_credentials_get_another_verdict_and_the_connection_closes(self):
        with Feedsim("--login", "alice", "--password", "pw") as sim:
            for login, password in ((b"alice", b"wrong"), (b"bob", b"pw"), (b"", b"")):
                sock, reader = sim.connect(login, password)
                verdict = reader.readline()
                self.assertTrue(verdict.endswith(b"\n"))
                self.assertNotIn(b"#1 Login granted", verdict)
                self.assertEqual(reader.read(), b"")  # closed, nothing else sent
                sock.close()

    def test_several_clients_at_once_with_lf_lines(self):
        with Feedsim("--rate", "20", "--line-prefix", "Q ") as sim:
            results = {}

            def client(n):
                sock, reader = sim.connect(b"user%d" % n, b"x", eol=b"\n")
                lines = [reader.readline() for _ in range(8)]
                sock.close()
                results[n] = lines

            threads = [threading.Thread(target=client, args=(n,)) for n in range(4)]
            for t in threads:
                t.start()
            for t in threads:
                t.join(TIMEOUT)
            self.assertEqual(sorted(results), [0, 1, 2, 3])
            for lines in results.values():
                self.assertEqual(lines[0], b"#1 Login granted\n")
                for line in lines[1:]:
                    self.assertTrue(line.startswith(b"Q [QT]8=FIX.4.4"), line)
                    quote(line, b"\n")

    def test_count_closes_the_connection_after_that_many_quotes(self):
        with Feedsim("--count", "7", "--rate", "0") as sim:
            sock, reader = sim.connect()
            self.assertEqual(reader.readline(), b"#1 Login granted\n")
            lines = reader.read().splitlines(keepends=True)
            self.assertEqual(len(lines), 7)
            for line in lines:
                quote(line, b"\n")
            sock.close()

    def test_clients_beyond_the_limit_are_turned_away(self):
        with Feedsim("--max-clients", "1") as sim:
            first, first_reader = sim.connect()
            self.assertEqual(first_reader.readline(), b"#1 Login granted\n")
            second, second_reader = sim.connect()
            self.assertNotIn(b"#1 Login granted", second_reader.readline())
            self.assertEqual(second_reader.read(), b"")
            first.close()
            second.close()

    def test_overlong_or_binary_credentials_are_refused(self):
        with Feedsim() as sim:
            sock, reader = sim.connect(login=None)
            sock.sendall(bytes(range(1, 256)).replace(b"\n", b"") * 8)
            self.assertNotIn(b"#1 Login granted", reader.readline())
            sock.close()
            # The server goes on serving.
            sock, reader = sim.connect()
            self.assertEqual(reader.readline(), b"#1 Login granted\n")
            sock.close()


class CommandLine(unittest.TestCase):
    def run_feedsim(self, *args):
        return subprocess.run([FEEDSIM, *args], capture_output=True, timeout=TIMEOUT)

    def test_help_documents_the_options(self):
        result = self.run_feedsim("--help")
        self.assertEqual(result.returncode, 0)
        for option in (b"--port", b"--port-file", b"--symbols", b"--rate", b"--depth",
                       b"--duration", b"--count", b"--login", b"--password", b"--crlf"):
            self.assertIn(option, result.stdout)

    def test_bad_options_exit_2_with_a_reason(self):
        for args in (["--depth", "0"], ["--no-such-option"], ["--port"]):
            result = self.run_feedsim(*args)
            self.assertEqual(result.returncode, 2, args)
            self.assertIn(b"vantrel-feedsim: ", result.stderr)
            self.assertEqual(result.stdout, b"")

    def test_duration_ends_the_run_and_removes_the_port_file(self):
        with tempfile.TemporaryDirectory() as d:
            port_file = os.path.join(d, "port")
            result = subprocess.run(
                [FEEDSIM, "--port", "0", "--port-file", port_file, "--duration", "0.3"],
                capture_output=True, timeout=TIMEOUT)
            self.assertEqual(result.returncode, 0)
            self.assertRegex(result.stdout, rb"^vantrel-feedsim listening on 127\.0\.0\.1:\d+\n$")
            self.assertFalse(os.path.exists(port_file))

    def test_stop_signals_end_the_run_even_when_sigint_was_ignored_on_entry(self):
        # A background job of a shell script starts with SIGINT ignored.
        ignore_sigint = lambda: signal.signal(signal.SIGINT, signal.SIG_IGN)
        for sig, preexec in ((signal.SIGINT, None), (signal.SIGINT, ignore_sigint),
                             (signal.SIGTERM, ignore_sigint)):
            with self.subTest(signal=sig.name, sigint_ignored=preexec is not None):
                with Feedsim(preexec_fn=preexec) as sim:
                    sim.process.send_signal(sig)
                    self.assertEqual(sim.process.wait(timeout=TIMEOUT), 0)
                    self.assertFalse(os.path.exists(sim.port_file))

    def test_a_busy_port_is_reported(self):
        with Feedsim() as sim:
            result = self.run_feedsim("--port", str(sim.port))
            self.assertEqual(result.returncode, 1)
            self.assertIn(b"cannot listen", result.stderr)


if __name__ == "__main__":
    FEEDSIM = sys.argv.pop(1)
    unittest.main(verbosity=2)
