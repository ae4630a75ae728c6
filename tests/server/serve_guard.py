#!/usr/bin/env python3
"""quillow-serve against abusive and careless clients, and its operators'
signals, over loopback.

Checks: thousands of connections sending their heads a byte a second (1,000
from one address, 2,000 from 200 others) hold up no other client, probes
from the crowded address included, and each is closed by its deadline with
a 408; sixteen clients reading a large answer slowly leave the HTTP process
within 64 MiB of its resting memory, and one that stops reading is dropped;
SIGTERM turns readiness off first while connections are still taken, then
answers every accepted render (200, or 503 with JSON past the deadline) and
exits 0; SIGHUP rereads the token file and stops nothing; listening beyond
loopback needs a token or --public; the token file's first line, the
scheme in any case, private caching behind a token; a query that is not
UTF-8 is refused; the ETag follows the font files; request ids, the access
log and the metrics address.

Every loop is bounded in count and time, every address is in 127.0.0.0/8,
and the server listens on 127.0.0.1 only.

usage: serve_guard.py path/to/quillow-serve path/to/quillow-render
"""
import json
import os
import resource
import select
import signal
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import serve_http as base  # noqa: E402  (the server fixture and the checks)

from serve_http import Server, check, json_error  # noqa: E402

HEAD_START = b"GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: "
# The server's whole-request deadline, and a bound far past it that only
# tells a connection left open from one closed late.
DEADLINE = 10
HANG = 60
# About 32 MB, under the service's BMP cap: sixteen copies held in memory would be far past 64 MiB.
BIG = {"phrase": "一二三四五", "format": "bmp", "dpi": 300, "scale": 2.8, "seed": 5}


def raise_descriptor_limit(wanted):
    """Raises this process's descriptor limit; the server started from it
    inherits the hard limit and raises its own."""
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    if soft < wanted:
        resource.setrlimit(resource.RLIMIT_NOFILE, (min(wanted, hard), hard))
    return resource.getrlimit(resource.RLIMIT_NOFILE)[0] >= wanted


def open_slow(port, source):
    connection = socket.create_connection(("127.0.0.1", port), timeout=10, source_address=(source, 0))
    connection.sendall(HEAD_START)
    connection.setblocking(False)
    return connection


class Prober(threading.Thread):
    """Asks for the probes and a small render from 127.0.0.1 until told to stop."""

    def __init__(self, server):
        super().__init__()
        self.server = server
        self.stop = threading.Event()
        self.answers = []

    def run(self):
        for _ in range(2000):
            if self.stop.is_set():
                return
            for path in ("/healthz", "/readyz", "/v1/render?phrase=%E5%A5%BD&seed=3"):
                try:
                    status = self.server.request("GET", path, timeout=30)[0]
                except OSError as error:
                    status = repr(error)
                self.answers.append((path, status))
            time.sleep(0.05)


def test_connection_flood():
    # The server leaves a descriptor for an answer's file beside each
    # connection's: 3,000 connections need twice that under its limit.
    if not check(raise_descriptor_limit(8192), "this test needs a descriptor limit of 8192"):
        return
    server = Server("--workers", "2", name="flood")
    prober = Prober(server)
    slow = {}
    try:
        started = time.monotonic()
        sources = ["127.0.0.2"] * 1000 + ["127.0.0.%d" % (10 + i // 10) for i in range(2000)]
        for source in sources:
            try:
                slow[open_slow(server.port, source)] = [b"", None]
            except OSError as error:
                check(False, "a slow connection from %s could not be made: %r" % (source, error))
                break
        prober.start()
        # The crowded address still gets its probes, and nothing else.
        crowded = base.socket.create_connection(("127.0.0.1", server.port), timeout=30,
                                                source_address=("127.0.0.2", 0))
        crowded.sendall(b"GET /healthz HTTP/1.1\r\nHost: a\r\n\r\n")
        check(crowded.recv(4096).startswith(b"HTTP/1.1 200"), "a probe from the crowded address is answered")
        crowded.sendall(b"GET /v1/render?phrase=x HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n")
        check(crowded.recv(4096).startswith(b"HTTP/1.1 429"), "a render from the crowded address gets 429")
        crowded.close()
        # A byte a second on every open connection until each is closed.
        while any(state[1] is None for state in slow.values()) and time.monotonic() - started < HANG:
            round_started = time.monotonic()
            for connection, state in slow.items():
                if state[1] is not None:
                    continue
                try:
                    connection.send(b"y")
                except BlockingIOError:
                    pass
                except OSError:
                    state[1] = time.monotonic()
            watch = select.poll()
            by_fd = {}
            for connection, state in slow.items():
                if state[1] is None:
                    watch.register(connection, select.POLLIN)
                    by_fd[connection.fileno()] = connection
            for fd, _ in watch.poll(1000):
                state = slow[by_fd[fd]]
                connection = by_fd[fd]
                try:
                    data = connection.recv(4096)
                except OSError:
                    data = b""
                state[0] += data
                if not data:
                    state[1] = time.monotonic()
            time.sleep(max(0.0, 1.0 - (time.monotonic() - round_started)))
        open_left = sum(1 for state in slow.values() if state[1] is None)
        check(open_left == 0, "every slow connection is closed by its deadline: %d left open" % open_left)
        answered = sum(1 for state in slow.values() if state[0].startswith(b"HTTP/1.1 408"))
        check(answered == len(slow), "each slow connection got 408: %d of %d" % (answered, len(slow)))
    finally:
        prober.stop.set()
        if prober.is_alive():
            prober.join(timeout=HANG)
        for connection in slow:
            connection.close()
        metrics = server.request("GET", "/metrics")[2].decode()
        check(server.stop() == 0, "flood server exits 0")
    failed = [answer for answer in prober.answers if answer[1] != 200]
    check(prober.answers and not failed,
          "the client on another address gets every answer: %d asked, failed %r" % (len(prober.answers), failed[:5]))
    check(any(path == "/healthz" for path, _ in prober.answers), "health was asked during the flood")
    check("quillow_connections_timed_out_total 3000" in metrics, "the closed connections are counted:\n" + metrics)


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def test_slow_readers():
    server = Server("--workers", "2", "--queue", "16", name="readers")
    readers = []
    try:
        status, headers, whole = server.render(BIG, method="GET")
        check(status == 200 and len(whole) > 30_000_000, "a large answer: %d, %d bytes" % (status, len(whole)))
        # Sent from a file rather than memory, and still quillow-render's bytes.
        check(whole == base.command_file(BIG, "bmp")[1], "the large answer equals quillow-render's file")
        request = ("GET /v1/render?%s HTTP/1.1\r\nHost: a\r\n\r\n" % base.query(BIG)).encode()
        # One that stops reading is dropped: the server sends what the
        # socket takes, waits, and closes before the body's end. It waits
        # while the others read.
        stalled = socket.create_connection(("127.0.0.1", server.port), timeout=HANG)
        stalled.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
        stalled.sendall(request)
        stalled_since = time.monotonic()
        resting = rss_kib(server.process.pid)
        for _ in range(16):
            reader = socket.create_connection(("127.0.0.1", server.port), timeout=60)
            reader.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
            reader.sendall(request)
            readers.append(reader)
        # Each takes a little now and then, never idle long enough to be
        # dropped, until every answer has been rendered and handed over.
        highest = resting
        for _ in range(120):
            for reader in readers:
                reader.recv(16 * 1024)
            highest = max(highest, rss_kib(server.process.pid))
            metrics = server.request("GET", "/metrics")[2].decode()
            if "quillow_in_flight 0" in metrics and 'status="200",format="bmp"} 18' in metrics:
                break
            time.sleep(0.25)
        check('status="200",format="bmp"} 18' in metrics, "all sixteen answers were handed over:\n" + metrics)
        for _ in range(8):
            for reader in readers:
                reader.recv(16 * 1024)
            highest = max(highest, rss_kib(server.process.pid))
            time.sleep(0.25)
        check(highest - resting < 64 * 1024, "slow readers hold %d KiB over %d at rest" % (highest - resting, resting))
        for reader in readers:
            reader.close()
        readers = []
        time.sleep(1)
        after = rss_kib(server.process.pid)
        check(after <= resting * 1.1 + 4096, "memory back after the readers leave: %d KiB, %d at rest" % (after, resting))

        time.sleep(max(0.0, DEADLINE + 5 - (time.monotonic() - stalled_since)))
        received = 0
        started = time.monotonic()
        while time.monotonic() - started < HANG:
            data = stalled.recv(1024 * 1024)
            if not data:
                break
            received += len(data)
        check(0 < received < len(whole), "a reader that takes nothing is dropped: %d of %d bytes" % (received, len(whole)))
        stalled.close()
    finally:
        for reader in readers:
            reader.close()
        check(server.stop() == 0, "readers server exits 0")


def test_slow_reader_frees_its_worker():
    # One worker and no queue: a client still reading a large answer holds
    # its connection, not the only place among the renders.
    server = Server("--workers", "1", "--queue", "0", name="one-place")
    try:
        reader = socket.create_connection(("127.0.0.1", server.port), timeout=HANG)
        reader.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 * 1024)
        reader.sendall(("GET /v1/render?%s HTTP/1.1\r\nHost: a\r\n\r\n" % base.query(BIG)).encode())
        check(reader.recv(64).startswith(b"HTTP/1.1 200"), "the large answer begins")
        status, _, _ = server.render({"phrase": "下一个", "seed": 1})
        check(status == 200, "the next render is not turned away while the first is read: %d" % status)
        reader.close()
    finally:
        check(server.stop() == 0, "one-place server exits 0")


def test_drain_with_delay():
    # One worker: of three heavy renders, the last is still waiting or
    # rendering when the short drain deadline passes.
    server = Server("--workers", "1", "--drain-delay", "2", "--drain-deadline", "1", "--time-limit", "300",
                    name="delay")
    results = base.run_parallel([lambda: server.render(base.HEAVY) for _ in range(3)]
                                + [lambda: signal_when_busy(server)])
    seen = results[3]
    check(seen.get("readyz") == 503, "/readyz says 503 at once: %r" % seen)
    check(seen.get("healthz") == 200, "a new connection is still taken during the delay: %r" % seen)
    check(seen.get("refused") is True, "after the delay new connections are refused: %r" % seen)
    statuses = [r[0] if isinstance(r, tuple) else r for r in results[:3]]
    check(all(isinstance(r, tuple) and (r[0] == 200 or (r[0] == 503 and json_error(r[2]))) for r in results[:3]),
          "every accepted render is answered, 200 or 503 with JSON: %r" % statuses)
    check(503 in statuses, "a render past the drain deadline gets 503: %r" % statuses)
    check(server.process.wait(timeout=HANG) == 0, "the drain exits 0")


def signal_when_busy(server):
    seen = {}
    for _ in range(400):
        if "quillow_in_flight 3" in server.request("GET", "/metrics")[2].decode():
            break
        time.sleep(0.025)
    server.process.send_signal(signal.SIGTERM)
    for _ in range(40):
        seen["readyz"] = server.request("GET", "/readyz")[0]
        if seen["readyz"] == 503:
            break
        time.sleep(0.025)
    seen["healthz"] = server.request("GET", "/healthz")[0]
    for _ in range(400):
        try:
            socket.create_connection(("127.0.0.1", server.port), timeout=5).close()
        except ConnectionRefusedError:
            seen["refused"] = True
            break
        time.sleep(0.025)
    return seen


def test_token_and_hangup():
    token_file = os.path.join(base.WORK, "guard-token")
    with open(token_file, "w") as file:
        file.write("  first-token \t\r\nsecond line\n")
    server = Server("--workers", "1", "--token-file", token_file, name="hangup")
    try:
        options = {"phrase": "令牌", "seed": 1}
        for scheme in ("Bearer", "bearer", "BEARER"):
            status, headers, _ = server.render(options, headers={"Authorization": scheme + " first-token"})
            check(status == 200 and headers.get("cache-control", "").startswith("private"),
                  "%s with the first line: %d %r" % (scheme, status, headers.get("cache-control")))
        status, _, _ = server.render(options, headers={"Authorization": "Bearer second line"})
        check(status == 401, "the second line is no token: %d" % status)
        with open(token_file, "w") as file:
            file.write("new-token\n")
        server.process.send_signal(signal.SIGHUP)
        for _ in range(100):
            if "重新读取令牌文件" in open(server.log, encoding="utf-8").read():
                break
            time.sleep(0.05)
        check(server.process.poll() is None, "SIGHUP does not stop the server")
        check(server.render(options, headers={"Authorization": "Bearer new-token"})[0] == 200,
              "after SIGHUP the new token holds")
        check(server.render(options, headers={"Authorization": "Bearer first-token"})[0] == 401,
              "after SIGHUP the old token is refused")
    finally:
        check(server.stop() == 0, "hangup server exits 0")


def test_exposure():
    # 192.0.2.1 is a documentation address no machine has: the program
    # either refuses the options or fails to bind, never listens there.
    token_file = os.path.join(base.WORK, "exposure-token")
    with open(token_file, "w") as file:
        file.write("t0ken\n")
    for arguments, code, expected in [
            (["--listen", "192.0.2.1:0"], 2, "没有 --token-file"),
            (["--listen", "192.0.2.1:0", "--public"], 1, "无法监听 192.0.2.1:0"),
            (["--listen", "192.0.2.1:0", "--token-file", token_file], 1, "无法监听 192.0.2.1:0")]:
        done = subprocess.run([base.SERVE, *arguments], capture_output=True, timeout=120)
        check(done.returncode == code and expected in done.stderr.decode(),
              "%r: %d %r" % (arguments, done.returncode, done.stderr.decode()))


def test_requests(server):
    # Text in another encoding, escaped byte by byte, is refused as the
    # body's JSON would be.
    for name, path in [("GBK phrase", "/v1/render?phrase=%BC%D3%D3%CD"),
                       ("a lone continuation byte", "/v1/render?phrase=a%80b"),
                       ("an overlong slash", "/v1/render?phrase=%C0%AF"),
                       ("a surrogate", "/v1/render?phrase=%ED%A0%80")]:
        status, _, data = server.request("GET", path)
        error = json_error(data)
        check(status == 400 and error and error.get("key") == "phrase", "%s: %d %r" % (name, status, data[:200]))
    status, headers, _ = server.request("GET", "/v1/render?phrase=%E5%A5%BD&seed=2",
                                        headers={"X-Request-Id": "trace-42"})
    check(status == 200 and headers.get("x-request-id") == "trace-42", "X-Request-Id is echoed: %r" % headers)
    status, headers, _ = server.request("GET", "/healthz", headers={"X-Request-Id": "bad id\x7f"})
    check(headers.get("x-request-id", "bad id") != "bad id\x7f" and headers.get("x-request-id"),
          "an unusable request id is replaced: %r" % headers.get("x-request-id"))
    # The line is written once the answer has gone out, which may be just
    # after the client has it.
    def traced(entry):
        return (entry.get("request_id") == "trace-42" and entry.get("status") == 200
                and entry.get("path") == "/v1/render" and entry.get("bytes", 0) > 0
                and 0 < entry.get("render_ms", 0) <= entry.get("ms", 0) and "queue_ms" in entry)
    for _ in range(100):
        logged = [json.loads(line) for line in open(server.log, encoding="utf-8") if line.startswith("{")]
        if any(traced(entry) for entry in logged):
            break
        time.sleep(0.05)
    check(any(traced(entry) for entry in logged), "the access log has the request: %r" % logged[-3:])
    metrics = server.request("GET", "/metrics")
    check(metrics[0] == 404, "/metrics is on its own address: %d" % metrics[0])
    text = open(server.log, encoding="utf-8").read()
    port = int(text.split("/metrics 在 http://127.0.0.1:")[1].split("/")[0])
    connection = base.http.client.HTTPConnection("127.0.0.1", port, timeout=30)
    connection.request("GET", "/metrics")
    body = connection.getresponse().read().decode()
    for line in ['quillow_requests_total{status="200",format="png"}', 'quillow_requests_total{status="400"',
                 "quillow_queue_wait_seconds_count", "quillow_render_seconds_count"]:
        check(line in body, "metrics show " + line)


def test_fingerprint():
    # The same options under another set of font files: another tag, and
    # the old tag gets the bytes rather than a 304.
    options = {"phrase": "指纹", "seed": 4}
    first = Server("--workers", "1", name="fonts-before")
    try:
        _, before, _ = first.render(options)
    finally:
        first.stop()
    fonts = os.path.join(base.WORK, "extra-fonts")
    os.makedirs(fonts, exist_ok=True)
    font = subprocess.run(["fc-match", "-f", "%{file}", "sans"], capture_output=True, text=True).stdout
    with open(font, "rb") as source, open(os.path.join(fonts, "copy" + os.path.splitext(font)[1]), "wb") as copy:
        copy.write(source.read())
    config = os.path.join(base.WORK, "fonts.conf")
    with open(config, "w") as file:
        file.write('<?xml version="1.0"?><fontconfig><include ignore_missing="yes">/etc/fonts/fonts.conf</include>'
                   '<dir>%s</dir><cachedir>%s</cachedir></fontconfig>' % (fonts, os.path.join(base.WORK, "fc-cache")))
    os.environ["FONTCONFIG_FILE"] = config
    try:
        second = Server("--workers", "1", name="fonts-after")
    finally:
        del os.environ["FONTCONFIG_FILE"]
    try:
        status, after, _ = second.render(options, headers={"If-None-Match": before.get("etag", "")})
        check(status == 200 and after.get("etag") and after["etag"] != before.get("etag"),
              "another font set, another tag: %d %r %r" % (status, before.get("etag"), after.get("etag")))
        status, _, _ = second.render(options, headers={"If-None-Match": after.get("etag", "")})
        check(status == 304, "the new tag is matched: %d" % status)
    finally:
        second.stop()


def main():
    test_exposure()
    server = Server("--workers", "2", "--metrics-listen", "127.0.0.1:0", name="requests")
    try:
        test_requests(server)
    finally:
        check(server.stop() == 0, "requests server exits 0")
    test_token_and_hangup()
    test_fingerprint()
    test_drain_with_delay()
    test_slow_readers()
    test_slow_reader_frees_its_worker()
    test_connection_flood()
    if base.failures:
        print("%d failures" % len(base.failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
