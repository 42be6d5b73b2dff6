#!/usr/bin/env python3
"""Measures how long the library takes to notice a broken feed, and to heal.

Run by scripts/feed_breaks.sh inside a network namespace of its own (so that
an nftables rule can drop the loopback traffic). Each case runs in a process
of its own, because the library reads its settings file once per process:

  dead-path    default settings; every packet dropped after the first quotes:
               seconds until the queries return 0.
  stopped      QuotesSilenceSeconds=10; the server process stopped (SIGSTOP):
               seconds until the queries return 0.
  restart      QuotesReconnect=Y; the server killed and started again at once
               on the same port: seconds from the kill until quotes are back.
  restart-5s   the same with the server away for 5 s: seconds from its restart
               until quotes are back (what the backoff adds).

    feed_breaks.py LIBRARY FEEDSIM [REPEAT]
"""
import ctypes
import os
import signal
import subprocess
import sys
import tempfile
import time

SETTINGS = {
    "dead-path": "",
    "stopped": "QuotesSilenceSeconds=10\n",
    "restart": "QuotesReconnect=Y\n",
    "restart-5s": "QuotesReconnect=Y\n",
}


def start_feedsim(feedsim, work, port=0):
    port_file = os.path.join(work, "port")
    if os.path.exists(port_file):
        os.remove(port_file)
    process = subprocess.Popen([feedsim, "--port", str(port), "--port-file", port_file, "--rate", "20",
                                "--quiet"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(500):
        if os.path.exists(port_file) and open(port_file).read().strip():
            return process, int(open(port_file).read())
        time.sleep(0.01)
    raise SystemExit("feedsim did not start")


def quotes_found(lib):
    symbol = ctypes.create_string_buffer(1024)
    n_bids = ctypes.c_int(4)
    n_offers = ctypes.c_int(4)
    arrays = [(ctypes.c_double * 4)() for _ in range(4)]
    return lib.GetLastQuotes(symbol, ctypes.byref(n_bids), arrays[0], arrays[1], ctypes.byref(n_offers),
                             arrays[2], arrays[3]) == 1


def wait_until(condition, limit=120.0, step=0.01):
    start = time.monotonic()
    while not condition():
        if time.monotonic() - start > limit:
            raise SystemExit("no change within %.0f s" % limit)
        time.sleep(step)
    return time.monotonic()


def one(case, library, feedsim):
    work = tempfile.mkdtemp()
    settings = os.path.join(work, "vantrel.cfg")
    with open(settings, "w") as out:
        out.write("[DEFAULT]\n" + SETTINGS[case])
    os.chmod(settings, 0o600)
    os.environ["VANTREL_CONFIG"] = settings
    os.environ["VANTREL_LOG_DIR"] = os.path.join(work, "log")
    lib = ctypes.CDLL(library)
    server, port = start_feedsim(feedsim, work)
    try:
        if lib.Login(b"127.0.0.1", port, b"bench", b"bench") != 1:
            raise SystemExit("login failed")
        wait_until(lambda: quotes_found(lib))
        if case == "dead-path":
            subprocess.run("nft add table inet feed_breaks && nft add chain inet feed_breaks out "
                           "'{ type filter hook output priority 0; }' && nft add rule inet feed_breaks out drop",
                           shell=True, check=True)
            start = time.monotonic()
            seconds = wait_until(lambda: not quotes_found(lib)) - start
            subprocess.run("nft delete table inet feed_breaks", shell=True, check=True)
        elif case == "stopped":
            server.send_signal(signal.SIGSTOP)
            start = time.monotonic()
            seconds = wait_until(lambda: not quotes_found(lib)) - start
            server.send_signal(signal.SIGCONT)
        else:
            server.kill()
            server.wait()
            start = time.monotonic()
            wait_until(lambda: not quotes_found(lib))
            if case == "restart-5s":
                time.sleep(5)
                start = time.monotonic()
            server, _ = start_feedsim(feedsim, work, port)
            seconds = wait_until(lambda: quotes_found(lib)) - start
        lib.Logoff()
        print("%.2f" % seconds)
    finally:
        server.kill()
        server.wait()


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--one":
        one(sys.argv[2], sys.argv[3], sys.argv[4])
        return
    library, feedsim = sys.argv[1], sys.argv[2]
    repeat = int(sys.argv[3]) if len(sys.argv) > 3 else 3
    print("%-12s %s" % ("case", "seconds (each run)"))
    for case in SETTINGS:
        runs = [subprocess.run([sys.executable, __file__, "--one", case, library, feedsim], check=True,
                               capture_output=True, text=True).stdout.strip() for _ in range(repeat)]
        print("%-12s %s" % (case, " ".join(runs)), flush=True)


if __name__ == "__main__":
    main()
