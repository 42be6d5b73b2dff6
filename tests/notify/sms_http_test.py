"""vantrel-sms-http against an HTTP server on loopback.

Usage: sms_http_test.py <sms_http_probe> <vantrel-sms-http.so>

Each case runs the probe (which loads the plug-in as the library does) with
its own environment and checks what the server received and what the send
returned.
"""
import base64
import http.server
import json
import os
import socket
import subprocess
import sys
import threading
import time

PROBE, PLUGIN = sys.argv[1], sys.argv[2]
PASSWORD = "pa:ss w\u00f6rd"
TEXT = '<20261208-09:15:00, Error (2)>: "quoted" back\\slash\nline\ttab \x01 \u00e9 \u20ac \U0001F600'

requests = []
release_silent = threading.Event()


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        body = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        requests.append({"method": self.command, "path": self.path, "headers": dict(self.headers), "body": body})
        if self.path == "/silent":
            release_silent.wait(30)
            return
        status = 500 if self.path == "/fail" else 200
        answer = b'{"id":"m-1"}' if status == 200 else ("rejected " + PASSWORD).encode()
        self.send_response(status)
        self.send_header("Content-Length", str(len(answer)))
        self.end_headers()
        self.wfile.write(answer)

    def log_message(self, *args):
        pass


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True


def probe(env, password=PASSWORD, text=TEXT):
    environment = {k: v for k, v in os.environ.items() if not k.startswith("VANTREL_SMS_HTTP_")
                   and k.lower() not in ("http_proxy", "https_proxy", "all_proxy")}
    environment.update(env)
    started = time.monotonic()
    run = subprocess.run([PROBE, PLUGIN, "api-7", "ops", password, "+4411", text], env=environment,
                         capture_output=True, timeout=60)
    elapsed = time.monotonic() - started
    out = run.stdout.decode()
    if run.returncode == 3:
        return "refused", None, elapsed
    assert run.returncode == 0, (run.returncode, out, run.stderr.decode())
    fields = dict(line.split("=", 1) for line in out.splitlines())
    return int(fields["result"]), fields["reply"], elapsed


def check(condition, what):
    if not condition:
        raise AssertionError(what)


def main():
    server = Server(("127.0.0.1", 0), Handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    base = "http://127.0.0.1:%d" % server.server_address[1]

    # Accepted: one POST with the JSON fields and basic authentication.
    result, reply, _ = probe({"VANTREL_SMS_HTTP_URL": base + "/sms"})
    check((result, reply) == (0, "HTTP 200"), (result, reply))
    check(len(requests) == 1, requests)
    request = requests.pop()
    check(request["method"] == "POST" and request["path"] == "/sms", request)
    check(request["headers"]["Content-Type"] == "application/json; charset=utf-8", request["headers"])
    check(json.loads(request["body"].decode("utf-8")) == {"api_id": "api-7", "number": "+4411", "text": TEXT},
          request["body"])
    expected_auth = "Basic " + base64.b64encode(("ops:" + PASSWORD).encode()).decode()
    check(request["headers"]["Authorization"] == expected_auth, request["headers"])

    # Refused by the server: a failing result, the status, no password.
    result, reply, _ = probe({"VANTREL_SMS_HTTP_URL": base + "/fail"})
    check(result == 1 and reply == "HTTP 500", (result, reply))  # the body, which names the password, is not kept
    requests.clear()

    # A server that reads the request and never answers: given up after the
    # total time-out.
    result, reply, elapsed = probe({"VANTREL_SMS_HTTP_URL": base + "/silent", "VANTREL_SMS_HTTP_TIMEOUT_MS": "300"})
    check(result == 2 and "Timeout" in reply and PASSWORD not in reply, (result, reply))
    check(elapsed < 10, "took %.1f s" % elapsed)
    release_silent.set()
    requests.clear()

    # Nothing listening: a transport error naming the failure.
    closed = socket.socket()
    closed.bind(("127.0.0.1", 0))
    url = "http://%s:%d/sms" % closed.getsockname()
    result, reply, _ = probe({"VANTREL_SMS_HTTP_URL": url})
    check(result == 2 and "connect" in reply.lower() and PASSWORD not in reply, (result, reply))
    closed.close()

    # Settings the factory refuses, so that the library reports the gateway
    # as not created.
    for env in ({}, {"VANTREL_SMS_HTTP_URL": "ftp://127.0.0.1/sms"},
                {"VANTREL_SMS_HTTP_URL": base, "VANTREL_SMS_HTTP_TIMEOUT_MS": "0"},
                {"VANTREL_SMS_HTTP_URL": base, "VANTREL_SMS_HTTP_CONNECT_TIMEOUT_MS": "3s"},
                {"VANTREL_SMS_HTTP_URL": base, "VANTREL_SMS_HTTP_TIMEOUT_MS": "60001"},
                {"VANTREL_SMS_HTTP_URL": base, "PROBE_CLASS_ID": "{00000000-0000-0000-0000-000000000000}"}):
        check(probe(env)[0] == "refused", env)
    check(not requests, requests)
    server.shutdown()
    print("vantrel-sms-http: all cases passed")


main()
