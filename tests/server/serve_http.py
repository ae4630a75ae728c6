#!/usr/bin/env python3
"""quillow-serve over loopback, against quillow-render.

Starts the server on a free loopback port (port 0, read back from its first
line on standard error) and checks: the same bytes as quillow-render for a
table of requests by POST and by GET; ETag, If-None-Match and 304; every
error status with its JSON body, a 400 carrying the command's own message;
429 under a burst larger than the queue; 504 past the time limit; a render
process killed with SIGKILL answers 500 and the next request succeeds, and
so does a render service killed with SIGKILL, which is started again; a
client sending its headers a byte at a time holds up nobody; seeded fuzzed
bodies and queries never bring the server down; SIGTERM answers every
accepted request, refuses new renders with 503 and exits 0.

Every loop is bounded in count and time, and every request goes to
127.0.0.1 only.

usage: serve_http.py path/to/quillow-serve path/to/quillow-render
"""
import http.client
import json
import os
import random
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

SERVE, RENDER = (os.path.abspath(p) for p in sys.argv[1:3])
WORK = tempfile.mkdtemp(prefix="serve-http-")
failures = []

# Renders for about two seconds on an idle machine: long enough to be caught
# in flight, far from the ten-second default limit.
HEAVY = {"phrase": "你好世界加油喊叫声音", "format": "webp", "effect": "reveal-shake", "frame-ms": 10,
         "hold-ms": 0, "outline": 12, "shadow": True, "shadow-blur": 20, "seed": 1}


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return condition


class Server:
    def __init__(self, *arguments, name="server"):
        self.log = os.path.join(WORK, name + ".log")
        with open(self.log, "wb") as log:
            self.process = subprocess.Popen([SERVE, "--listen", "127.0.0.1:0", *arguments],
                                            stdout=subprocess.DEVNULL, stderr=log)
        self.port = None
        for _ in range(300):
            with open(self.log, encoding="utf-8", errors="replace") as log:
                text = log.read()
            if "http://127.0.0.1:" in text:
                self.port = int(text.split("http://127.0.0.1:")[1].split("/")[0])
                break
            if self.process.poll() is not None:
                break
            time.sleep(0.1)
        if self.port is None:
            self.process.kill()
            raise SystemExit("quillow-serve did not start: " + open(self.log).read())
        self.base = f"http://127.0.0.1:{self.port}"

    def connection(self, timeout=120):
        return http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)

    def request(self, method, path, body=None, headers=None, timeout=120):
        connection = self.connection(timeout)
        try:
            connection.request(method, path, body=body, headers=headers or {})
            response = connection.getresponse()
            data = response.read()
            return response.status, {k.lower(): v for k, v in response.getheaders()}, data
        finally:
            connection.close()

    def render(self, options, method="POST", headers=None):
        if method == "POST":
            return self.request("POST", "/v1/render", json.dumps(options).encode(), headers)
        return self.request("GET", "/v1/render?" + query(options), headers=headers)

    def children(self, pid=None):
        pid = pid or self.process.pid
        found = []
        try:
            for task in os.listdir("/proc/%d/task" % pid):
                with open("/proc/%d/task/%s/children" % (pid, task)) as listing:
                    found += [int(child) for child in listing.read().split()]
        except FileNotFoundError:
            pass
        return found

    def workers(self):
        return [worker for service in self.children() for worker in self.children(service)]

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
        try:
            return self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
            return None


def query(options):
    return urllib.parse.urlencode({k: ("true" if v is True else "false" if v is False else str(v))
                                   for k, v in options.items()})


def command_file(options, suffix):
    """What quillow-render writes for the same options, and its exit status."""
    output = os.path.join(WORK, "expected." + suffix)
    if os.path.exists(output):
        os.unlink(output)
    arguments = [RENDER, "-o", output]
    for key, value in options.items():
        if key == "phrase":
            continue
        arguments += ["--" + key] if value is True else ["--" + key, str(value)]
    done = subprocess.run(arguments + ["--", options["phrase"]], capture_output=True, timeout=120)
    data = open(output, "rb").read() if done.returncode == 0 else None
    return done.returncode, data, done.stderr.decode()


def suffix_of(headers):
    return headers.get("content-disposition", "").rsplit(".", 1)[-1]


def json_error(data):
    try:
        body = json.loads(data)
    except ValueError:
        return None
    return body if isinstance(body, dict) and isinstance(body.get("error"), str) and "key" in body else None


def run_parallel(calls):
    results = [None] * len(calls)

    def run(index):
        try:
            results[index] = calls[index]()
        except Exception as error:  # noqa: BLE001 - reported as a failure below
            results[index] = error

    threads = [threading.Thread(target=run, args=(i,)) for i in range(len(calls))]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(180)
    return results


IDENTITY = [
    ("window png, seeded random colours", {"phrase": "你好世界", "seed": 7}),
    ("bmp with a gradient", {"phrase": "大家一起来", "format": "bmp", "colours": "gradient", "bold": True}),
    ("png-alpha at twice the scale", {"phrase": "AbcXyz", "format": "png-alpha", "scale": 2, "seed": 3}),
    ("gif still", {"phrase": "喊叫", "format": "gif", "effect": "still", "seed": 5}),
    ("gif reveal", {"phrase": "喊叫", "format": "gif", "effect": "reveal", "seed": 5}),
    ("apng shake", {"phrase": "加油加油", "format": "apng", "effect": "shake", "seed": 11}),
    ("webp reveal-shake", {"phrase": "声音大", "format": "webp", "effect": "reveal-shake", "seed": 2}),
    ("wechat preset", {"phrase": "我们", "preset": "wechat", "seed": 9}),
    ("slack preset with outline", {"phrase": "好!", "preset": "slack", "outline": 3, "seed": 4}),
    # Glyphs too large for Qt's glyph cache are drawn as outlines, which
    # carry whatever the face last rasterised: a render must start from the
    # same text state as quillow-render's.
    ("italic, underlined and struck out at 300 dpi",
     {"phrase": "大声喊出来吧", "italic": True, "underline": True, "strike-out": True, "dpi": 300, "seed": 13}),
    ("bold italic gif with an outline and a shadow",
     {"phrase": "一起加油", "bold": True, "italic": True, "format": "gif", "effect": "reveal-shake", "outline": 4,
      "shadow": True, "seed": 21}),
    # Rows are set by the glyphs' measured ink, before anything is drawn.
    ("rows of an emoji, italic and underlined", {"phrase": "友谊的小 船说翻就翻", "preset": "discord-emoji",
                                                "rows": "auto", "italic": True, "underline": True, "seed": 6}),
    ("ten characters in a face that cannot write them", {"phrase": "友谊的小船说翻就翻吧", "face": "DejaVu Sans",
                                                          "colours": "gradient", "halign": "centre"}),
    # A preset alone: the preset's own format, as the command line chooses it.
    ("a preset's still format", {"phrase": "加油", "preset": "whatsapp", "seed": 1}),
    ("a preset's animated format", {"phrase": "加油", "preset": "wechat", "effect": "reveal", "seed": 1}),
    ("a preset's video", {"phrase": "加油", "preset": "telegram", "effect": "reveal", "seed": 1}),
]


def test_identity(server):
    for name, options in IDENTITY:
        for method in ("POST", "GET"):
            status, headers, data = server.render(options, method)
            if not check(status == 200, "%s by %s: status %d %r" % (name, method, status, data[:200])):
                continue
            code, expected, message = command_file(options, suffix_of(headers))
            check(code == 0, "%s: quillow-render failed: %s" % (name, message))
            check(data == expected, "%s by %s: bytes differ from quillow-render's" % (name, method))
            check(headers.get("content-type", "").startswith(("image/", "video/webm")),
                  "%s: content type %r" % (name, headers))
            check(urllib.parse.quote(options["phrase"]) in headers.get("content-disposition", ""),
                  "%s: file name %r" % (name, headers.get("content-disposition")))
            if "x-quillow-bytes" in headers:
                check(int(headers["x-quillow-bytes"]) == len(data), "%s: X-Quillow-Bytes" % name)
            check(headers.get("cache-control") == "public, max-age=31536000, immutable" and "etag" in headers,
                  "%s: a seeded render is cacheable: %r" % (name, headers))

    # The tag names the bytes: the same options by either method, a 304 for
    # it, and a different tag for different options.
    options = IDENTITY[0][1]
    _, by_post, _ = server.render(options, "POST")
    _, by_get, _ = server.render(options, "GET")
    check(by_post["etag"] == by_get["etag"], "the same options get the same ETag by POST and GET")
    status, headers, data = server.render(options, headers={"If-None-Match": 'W/"x", ' + by_post["etag"]})
    check(status == 304 and data == b"" and headers.get("etag") == by_post["etag"], "If-None-Match gives 304")
    _, other, _ = server.render(dict(options, seed=8))
    check(other["etag"] != by_post["etag"], "other options, other ETag")
    status, headers, _ = server.render({"phrase": "随机"}, headers={"If-None-Match": "*"})
    check(status == 200 and "etag" not in headers and headers.get("cache-control") == "no-store",
          "random colours without a seed are neither tagged nor cached: %d %r" % (status, headers))


def test_errors(server):
    # The command's own message and the option it is about.
    for options, key in [({"phrase": "x", "spacing": "zz"}, "spacing"), ({"phrase": "x", "dpi": 0}, "dpi"),
                         ({"phrase": "一二三四五六七八九十一"}, "phrase"), ({"phrase": "x", "max-bytes": 0}, "max-bytes"),
                         ({"phrase": "x", "preset": "whatsapp", "format": "gif"}, "format")]:
        code, _, message = command_file(options, "png")
        expected = message.splitlines()[0].removeprefix("quillow-render: ")
        for method in ("POST", "GET"):
            status, headers, data = server.render(options, method)
            body = json_error(data)
            check(code == 2 and status == 400 and body and body["error"] == expected and body["key"] == key,
                  "400 for %r by %s: %d %r (command: %r)" % (options, method, status, data, expected))
    for body, what in [(b'{"phrase":"x","output":"a.png"}', "output"), (b'{"phrase":', "broken JSON"),
                       (b"[1]", "an array"), (b'{"phrase":"x","bold":3}', "a flag that is not a boolean"),
                       (b"{}", "no phrase"), (b'{"phrase":"\xff"}', "bytes that are not UTF-8"),
                       (b'{"phrase":"x","preset":"slack","tiles":"auto"}', "tiles, which are several files")]:
        status, _, data = server.request("POST", "/v1/render", body)
        check(status == 400 and json_error(data), "400 for %s: %d %r" % (what, status, data))
        # Every refusal names the field it is about, but for a body that is no object at all.
        expected_key = {"broken JSON": None, "an array": None, "bytes that are not UTF-8": None,
                        "output": "output", "a flag that is not a boolean": "bold", "no phrase": "phrase",
                        "tiles, which are several files": "tiles"}[what]
        check(json_error(data) and json_error(data)["key"] == expected_key,
              "400 for %s names %r: %r" % (what, expected_key, data))

    status, _, data = server.request("GET", "/v1/nothing")
    check(status == 404 and json_error(data), "404: %d" % status)
    status, headers, data = server.request("DELETE", "/v1/render")
    check(status == 405 and headers.get("allow") == "GET, HEAD, POST" and json_error(data), "405: %d" % status)
    # HEAD answers GET's head: the same status, type, length and ETag, and no body.
    link = "/v1/render?" + query({"phrase": "喊", "seed": 1})
    got = server.request("GET", link)
    head = server.request("HEAD", link)
    check(head[0] == got[0] == 200 and head[2] == b"", "HEAD: %d %d %r" % (head[0], got[0], head[2][:40]))
    for name in ["content-type", "content-length", "etag", "cache-control"]:
        check(head[1].get(name) == got[1].get(name), "HEAD's %s: %r, GET's %r" % (name, head[1].get(name),
                                                                                 got[1].get(name)))
    status, _, _ = server.request("POST", "/metrics", b"")
    check(status == 405, "405 on /metrics: %d" % status)
    status, _, data = server.request("POST", "/v1/render", b"{" + b" " * (64 * 1024) + b"}")
    check(status == 413, "413 for a body over 64 KiB: %d" % status)
    exactly = b'{"phrase":"x","seed":1}'
    status, _, _ = server.request("POST", "/v1/render", b" " * (64 * 1024 - len(exactly)) + exactly)
    check(status == 200, "a body of exactly 64 KiB is read: %d" % status)
    test_long_heads(server)


def raw_status(server, head):
    """The status and body of a request sent as `head`, byte for byte."""
    answer = b""
    with socket.create_connection(("127.0.0.1", server.port), timeout=60) as connection:
        try:
            connection.sendall(head)
        except OSError:
            pass  # answered and closed before the whole head was sent
        try:
            for _ in range(1000):
                block = connection.recv(65536)
                if not block:
                    break
                answer += block
        except ConnectionResetError:
            pass
    status = int(answer.split(b" ", 2)[1]) if answer.startswith(b"HTTP/1.1 ") else None
    return status, answer.partition(b"\r\n\r\n")[2]


def test_long_heads(server):
    # The limits are 8 KiB of path and query and 16 KiB of headers (each
    # counted with its ": " and line end); one byte more is refused with the
    # JSON body, up to far past them.
    target = "/v1/render?phrase=x&pad="
    heads = [
        ("a URL of exactly 8 KiB", 400, target + "y" * (8192 - len(target))),
        ("a URL one byte over 8 KiB", 414, target + "y" * (8193 - len(target))),
        ("a URL of 100000 bytes", 414, target + "y" * 100000),
    ]
    for name, expected, url in heads:
        status, data = raw_status(server, b"GET %s HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n" % url.encode())
        check(status == expected and json_error(data), "%s: %r %r" % (name, status, data[:200]))
    # Host: a (9) and Connection: close (19) besides the filler's 12.
    for name, expected, filler in [("headers of exactly 16 KiB", 200, 16384 - 40),
                                   ("headers one byte over 16 KiB", 431, 16384 - 39),
                                   ("a header of 100000 bytes", 431, 100000)]:
        status, data = raw_status(server, b"GET /healthz HTTP/1.1\r\nHost: a\r\nConnection: close\r\n"
                                          b"X-Filler: %s\r\n\r\n" % (b"y" * filler))
        check(status == expected and (status == 200 or json_error(data)), "%s: %r %r" % (name, status, data[:200]))
    # Past what the server reads of a request at all, the status alone.
    status, _ = raw_status(server, b"GET /v1/render?pad=%s HTTP/1.1\r\nHost: a\r\n\r\n" % (b"y" * 400000))
    check(status == 414, "414 for a URL past what is read: %r" % status)


def test_token():
    token_file = os.path.join(WORK, "token")
    with open(token_file, "w") as file:
        file.write("s3cret-token\n")
    # Without --workers: one per core.
    server = Server("--token-file", token_file, name="token")
    try:
        options = {"phrase": "令牌", "seed": 1}
        for headers in [{}, {"Authorization": "Bearer wrong-token!"}, {"Authorization": "Bearer s3cret-toke"},
                        {"Authorization": "s3cret-token"}]:
            status, answer, data = server.render(options, headers=headers)
            check(status == 401 and answer.get("www-authenticate") == "Bearer" and json_error(data),
                  "401 for %r: %d" % (headers, status))
        status, _, _ = server.render(options, headers={"Authorization": "Bearer s3cret-token"})
        check(status == 200, "the right token renders: %d" % status)
        check(server.request("GET", "/healthz")[0] == 200, "health needs no token")
        metrics = server.request("GET", "/metrics")[2].decode()
        check('quillow_requests_total{status="401",format=""} 4' in metrics, "the 401s are counted:\n" + metrics)
    finally:
        check(server.stop() == 0, "token server exits 0")


def test_overload_and_limits():
    # One worker and one place in the queue: a burst of six long renders
    # admits two and turns the rest away at once.
    server = Server("--workers", "1", "--queue", "1", "--time-limit", "300", name="burst")
    try:
        results = run_parallel([lambda: server.render(HEAVY) for _ in range(6)])
        statuses = [r[0] if isinstance(r, tuple) else repr(r) for r in results]
        check(all(s in (200, 429) for s in statuses) and statuses.count(429) >= 1 and statuses.count(200) >= 1,
              "a burst over the queue gets 200s and 429s only: %r" % statuses)
        for result in results:
            if isinstance(result, tuple) and result[0] == 429:
                check(result[1].get("retry-after", "").isdigit() and json_error(result[2]), "429 has Retry-After")
        _, expected, _ = command_file(HEAVY, "webp")
        check(all(r[2] == expected for r in results if isinstance(r, tuple) and r[0] == 200),
              "the admitted renders are whole and unmixed")
    finally:
        check(server.stop() == 0, "burst server exits 0")

    server = Server("--workers", "1", "--time-limit", "0.3", name="limit")
    try:
        status, _, data = server.render(HEAVY)
        check(status == 504 and json_error(data), "504 past the time limit: %d %r" % (status, data))
        # A sanitized build on a busy machine can pass even a tiny render's
        # 0.3 s now and then: a few tries, one of which must be whole.
        for _ in range(5):
            status, _, data = server.render({"phrase": "快", "seed": 1, "dpi": 12})
            if status == 200:
                break
        check(status == 200, "the service goes on after a render is stopped: %d %r" % (status, data))
        check(server.workers() == [], "the stopped render process is reaped")
    finally:
        check(server.stop() == 0, "limit server exits 0")


def test_worker_killed(server):
    results = run_parallel([lambda: server.render(HEAVY),
                            lambda: kill_a_worker(server)])
    killed = results[1]
    check(killed is True, "a render process was found to kill: %r" % killed)
    status, _, data = results[0]
    check(status == 500 and json_error(data), "a killed render process gives 500: %d %r" % (status, data[:200]))
    options = {"phrase": "再来", "seed": 6}
    status, _, data = server.render(options)
    check(status == 200 and data == command_file(options, "png")[1], "the next request succeeds: %d" % status)
    metrics = server.request("GET", "/metrics")[2].decode()
    check("quillow_worker_restarts_total 1" in metrics, "the lost process is counted:\n" + metrics)


def kill_a_worker(server):
    for _ in range(200):
        workers = server.workers()
        if workers:
            os.kill(workers[0], signal.SIGKILL)
            return True
        time.sleep(0.025)
    return False


def test_service_killed(server):
    # The render service itself killed with SIGKILL mid-render: that render
    # gets 500, its render process goes with it, a new service takes over
    # and the next request gets its bytes.
    [service] = server.children()
    found = {}
    results = run_parallel([lambda: server.render(HEAVY), lambda: kill_service_when_busy(server, service, found)])
    check(results[1] is True, "the service was killed while rendering: %r" % (results[1],))
    check(found.get("gone") is True, "the lost service's render processes are gone: %r" % found)
    status, _, data = results[0]
    check(status == 500 and json_error(data), "a render lost with its service gives 500: %d %r" % (status, data[:200]))
    options = {"phrase": "重来", "seed": 12}
    status, _, data = server.render(options)
    check(status == 200 and data == command_file(options, "png")[1], "the next request succeeds: %d" % status)
    check(server.children() not in ([], [service]), "a new service runs: %r" % server.children())
    check(server.request("GET", "/readyz")[0] == 200, "ready again")
    metrics = server.request("GET", "/metrics")[2].decode()
    check("quillow_render_service_restarts_total 1" in metrics, "the restart is counted:\n" + metrics)


def running(pid):
    """Whether process `pid` runs (a zombie waiting for its reaper does not)."""
    try:
        with open("/proc/%d/stat" % pid) as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] != "Z"
    except (FileNotFoundError, ProcessLookupError):
        return False


def kill_service_when_busy(server, service, found):
    for _ in range(200):
        workers = server.children(service)
        if workers:
            found["workers"] = workers
            os.kill(service, signal.SIGKILL)
            # Gone within a second, long before the heavy render would have
            # ended on its own.
            for _ in range(20):
                if not any(running(worker) for worker in workers):
                    found["gone"] = True
                    break
                time.sleep(0.05)
            return True
        time.sleep(0.025)
    return False


def test_slow_header_client(server):
    # A client that sends its request line a byte at a time, and one that
    # stops half-way, while others are served to the end.
    slow = socket.create_connection(("127.0.0.1", server.port), timeout=30)
    stalled = socket.create_connection(("127.0.0.1", server.port), timeout=30)
    stalled.sendall(b"POST /v1/render HTTP/1.1\r\nHost: 127.0.0.1\r\nContent-Length: 100\r\n\r\n{")
    request = b"GET /healthz HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n"
    sent = threading.Event()

    def trickle():
        for at in range(len(request)):
            slow.sendall(request[at:at + 1])
            if sent.wait(0.5):
                slow.sendall(request[at + 1:])
                return

    thread = threading.Thread(target=trickle)
    thread.start()
    try:
        for index in range(3):
            options = {"phrase": "不等%d" % index, "seed": index}
            status, _, data = server.render(options)
            check(status == 200 and data == command_file(options, "png")[1], "served beside a slow client")
        check(thread.is_alive(), "the slow client was still sending while the others were served")
    finally:
        sent.set()
        thread.join(60)
        answer = b""
        for _ in range(100):
            block = slow.recv(4096)
            if not block:
                break
            answer += block
        check(answer.startswith(b"HTTP/1.1 200"), "the slow client is answered too: %r" % answer[:100])
        slow.close()
        stalled.close()


def test_fuzz(server):
    rng = random.Random(20261210)
    chars = "你好世界加油喊叫声音大家一起来吧我们AbcXyz!? "
    keys = ["bold", "italic", "spacing", "dpi", "scale", "colours", "seed", "effect", "format", "preset",
            "outline", "start", "quality", "max-bytes", "face", "halign", "frame-ms", "colour", "output", "batch"]
    values = [True, False, None, -1, 0, 3, 37.5, 1e9, "", "#FF0000", "png", "gif", "wechat", "shake", [1], {}]
    statuses = {}
    for index in range(250):
        line = {"phrase": "".join(rng.choice(chars) for _ in range(rng.randint(0, 12))), "dpi": 12}
        for _ in range(rng.randint(0, 4)):
            line[rng.choice(keys)] = rng.choice(values)
        text = json.dumps(line, ensure_ascii=rng.random() < 0.5).encode()
        kind = rng.random()
        if kind < 0.15:
            text = text[: rng.randint(0, len(text))]
        elif kind < 0.25:
            at = rng.randint(0, len(text))
            text = text[:at] + bytes([rng.randint(0x80, 0xFF)]) + text[at:]
        elif kind < 0.30:
            text = bytes(rng.randint(0, 255) for _ in range(rng.randint(0, 300)))
        if rng.random() < 0.3:
            status, _, data = server.request("GET", "/v1/render?" + urllib.parse.urlencode(
                {k: str(v) for k, v in line.items()}))
        else:
            status, _, data = server.request("POST", "/v1/render", text)
        statuses[status] = statuses.get(status, 0) + 1
        if status != 200:
            check(status == 400 and json_error(data), "fuzz %d: %d %r for %r" % (index, status, data[:200], text))
    check(statuses.get(200, 0) > 10 and statuses.get(400, 0) > 10, "the fuzz mixes good and bad: %r" % statuses)
    check(server.request("GET", "/healthz")[0] == 200 and server.process.poll() is None, "alive after the fuzz")
    check(server.workers() == [], "no render process is left behind")


def test_drain():
    # Limits far beyond the renders, however slow the build (sanitizers).
    # No grace before the listener closes: the render asked for after the
    # signal comes when only what was accepted is answered.
    server = Server("--workers", "2", "--drain-delay", "0", "--drain-deadline", "300", "--time-limit", "300",
                    name="drain")
    kept = server.connection()
    kept.request("GET", "/healthz")
    kept.getresponse().read()
    results = run_parallel([lambda: server.render(HEAVY) for _ in range(3)] + [lambda: drain_when_busy(server, kept)])
    _, expected, _ = command_file(HEAVY, "webp")
    check(all(isinstance(r, tuple) and r[0] == 200 and r[2] == expected for r in results[:3]),
          "every accepted request is answered whole: %r" % [r[0] if isinstance(r, tuple) else r for r in results[:3]])
    late_status = results[3]
    check(late_status == 503, "a render asked for while draining gets 503: %r" % (late_status,))
    check(server.process.wait(timeout=60) == 0, "SIGTERM exits 0")
    try:
        socket.create_connection(("127.0.0.1", server.port), timeout=5).close()
        check(False, "nothing listens after the drain")
    except OSError:
        pass


def drain_when_busy(server, kept):
    for _ in range(400):
        metrics = server.request("GET", "/metrics")[2].decode()
        if "quillow_in_flight 3" in metrics:
            break
        time.sleep(0.025)
    server.process.send_signal(signal.SIGTERM)
    for _ in range(400):
        # The readiness probe says no as soon as the drain starts.
        kept.request("GET", "/readyz")
        response = kept.getresponse()
        response.read()
        if response.status == 503:
            break
        time.sleep(0.025)
    kept.request("POST", "/v1/render", body=json.dumps({"phrase": "晚了", "seed": 1}))
    response = kept.getresponse()
    response.read()
    kept.close()
    return response.status


def test_command_line():
    # The token is the first line: one of white space is no token, whatever follows.
    blank_first_line = os.path.join(WORK, "blank-first-line")
    with open(blank_first_line, "w") as file:
        file.write(" \t\nsecond-line-token\n")
    done = subprocess.run([SERVE, "--help"], capture_output=True, timeout=60)
    check(done.returncode == 0 and b"--listen" in done.stdout and b"--token-file" in done.stdout, "--help")
    for arguments, message in [
            (["--workers", "0"], "--workers 必须是 1 到 1024 之间的整数，而不是 “0”。"),
            (["--listen", "127.0.0.1"], "--listen 必须写成 IPv4地址:端口（如 127.0.0.1:8080），而不是 “127.0.0.1”。"),
            (["--listen", "127.0.0.1:65536"],
             "--listen 必须写成 IPv4地址:端口（如 127.0.0.1:8080），而不是 “127.0.0.1:65536”。"),
            (["--token-file", os.path.join(WORK, "missing")], "无法读取令牌文件 “%s”。" % os.path.join(WORK, "missing")),
            (["--time-limit", "0"], "--time-limit 必须是 0 到 86400 之间的正秒数，而不是 “0”。"),
            (["--drain-delay", "-1"], "--drain-delay 必须是 0 到 86400 之间的秒数，而不是 “-1”。"),
            (["--metrics-listen", "localhost:9090"],
             "--metrics-listen 必须写成 IPv4地址:端口（如 127.0.0.1:8080），而不是 “localhost:9090”。"),
            (["--token-file", blank_first_line], "令牌文件 “%s” 的第一行是空的。" % blank_first_line)]:
        done = subprocess.run([SERVE, *arguments], capture_output=True, timeout=60)
        check(done.returncode == 2 and done.stderr.decode() == "quillow-serve: " + message + "\n",
              "%r: %d %r" % (arguments, done.returncode, done.stderr.decode()))


def main():
    test_command_line()
    server = Server("--workers", "2")
    try:
        status, _, data = server.request("GET", "/healthz")
        check(status == 200, "healthz")
        check(server.request("GET", "/readyz")[0] == 200, "readyz")
        test_identity(server)
        test_errors(server)
        test_worker_killed(server)
        test_service_killed(server)
        test_slow_header_client(server)
        test_fuzz(server)
        metrics = server.request("GET", "/metrics")[2].decode()
        # Every render request answered is counted, also those refused
        # before a render was asked for (405, 413, 414).
        for line in ['quillow_requests_total{status="200",format="png"}', 'quillow_requests_total{status="400"',
                     'quillow_requests_total{status="405",format=""} 1', 'quillow_requests_total{status="413"',
                     'quillow_requests_total{status="414"', "quillow_request_duration_seconds_count",
                     "quillow_in_flight 0", "quillow_queue_depth 0"]:
            check(line in metrics, "metrics show " + line)
    finally:
        check(server.stop() == 0, "SIGTERM on an idle server exits 0")
    test_token()
    test_overload_and_limits()
    test_drain()
    if failures:
        print("%d failures" % len(failures), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
