#!/usr/bin/env python3
"""quillow-serve's limits on what one request may make, over loopback.

Under a Chinese desktop's input method settings (with which Qt would start a
thread of its own, were they not cleared): the render service runs one
thread, and its renders give quillow-render's bytes. A request whose picture
is over the cap (pixels times frames, or a BMP file's size) is answered 413
with a message naming the cap, and its render process stays within its
memory limit; a large picture under the cap is made, also within the limit.

Every loop is bounded in count and time, and every request goes to
127.0.0.1 only.

usage: serve_limits.py path/to/quillow-serve path/to/quillow-render
"""
import http.client
import json
import os
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

SERVE, RENDER = (os.path.abspath(p) for p in sys.argv[1:3])
WORK = tempfile.mkdtemp(prefix="serve-limits-")
DESKTOP = {"QT_IM_MODULE": "ibus", "GTK_IM_MODULE": "ibus", "XMODIFIERS": "@im=ibus",
           "QT_QPA_PLATFORMTHEME": "gtk3"}
ENVIRONMENT = dict(os.environ, **DESKTOP)
TEN = "一二三四五六七八九十"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return condition


def start_server():
    log_path = os.path.join(WORK, "server.log")
    with open(log_path, "wb") as log:
        process = subprocess.Popen([SERVE, "--listen", "127.0.0.1:0", "--workers", "2", "--time-limit", "120"],
                                   stdout=subprocess.DEVNULL, stderr=log, env=ENVIRONMENT)
    for _ in range(300):
        with open(log_path, encoding="utf-8", errors="replace") as log:
            text = log.read()
        if "http://127.0.0.1:" in text:
            return process, int(text.split("http://127.0.0.1:")[1].split("/")[0])
        if process.poll() is not None:
            break
        time.sleep(0.1)
    process.kill()
    raise SystemExit("quillow-serve did not start: " + open(log_path).read())


def children(pid):
    found = []
    try:
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/children" % (pid, task)) as listing:
                found += [int(child) for child in listing.read().split()]
    except (FileNotFoundError, ProcessLookupError):
        pass
    return found


def status_kib(pid, field):
    try:
        with open("/proc/%d/status" % pid) as status:
            for line in status:
                if line.startswith(field + ":"):
                    return int(line.split()[1])
    except (FileNotFoundError, ProcessLookupError):
        pass
    return None


def address_space_limit(pid):
    """The soft RLIMIT_AS of `pid` in KiB, None when unlimited or gone."""
    try:
        with open("/proc/%d/limits" % pid) as limits:
            for line in limits:
                if line.startswith("Max address space"):
                    soft = line.split()[3]
                    return None if soft == "unlimited" else int(soft) // 1024
    except (FileNotFoundError, ProcessLookupError):
        pass
    return None


class RenderWatch:
    """Samples the render processes of `service` while a request runs: the
    largest address space each reached, and its limit."""

    def __init__(self, service):
        self.service = service
        self.seen = {}  # pid: (peak KiB, limit KiB)
        self.done = threading.Event()
        self.thread = threading.Thread(target=self.sample)

    def sample(self):
        for _ in range(60000):  # at most about two minutes
            if self.done.is_set():
                return
            for render in children(self.service):
                peak, limit = status_kib(render, "VmPeak"), address_space_limit(render)
                if peak is not None:
                    old_peak, old_limit = self.seen.get(render, (0, limit))
                    self.seen[render] = (max(old_peak, peak), limit or old_limit)
            time.sleep(0.002)

    def __enter__(self):
        self.thread.start()
        return self

    def __exit__(self, *exception):
        self.done.set()
        self.thread.join()


def get(port, options):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=180)
    try:
        connection.request("GET", "/v1/render?" + urllib.parse.urlencode(options))
        response = connection.getresponse()
        return response.status, response.read()
    finally:
        connection.close()


def command_bytes(options, suffix):
    path = os.path.join(WORK, "command." + suffix)
    arguments = [RENDER, "-o", path]
    for name, value in options.items():
        if name != "phrase":
            arguments += ["--" + name, str(value)]
    subprocess.run(arguments + [options["phrase"]], check=True, env=ENVIRONMENT, timeout=120)
    with open(path, "rb") as made:
        return made.read()


def sanitized(pid):
    """Whether `pid` runs under AddressSanitizer, which renders without a
    memory limit: its shadow memory is address space the render does not use."""
    try:
        with open("/proc/%d/maps" % pid) as maps:
            return "libasan" in maps.read()
    except (FileNotFoundError, ProcessLookupError):
        return False


def check_renders_stay_within_limit(watch, what):
    if sanitized(watch.service):
        return
    for render, (peak, limit) in watch.seen.items():
        if check(limit is not None, "%s: render process %d has no address space limit" % (what, render)):
            check(peak <= limit, "%s: render process %d reached %d KiB over its limit of %d KiB"
                  % (what, render, peak, limit))


def main():
    process, port = start_server()
    try:
        services = children(process.pid)
        if not check(len(services) == 1, "one render service, not %s" % services):
            return
        service = services[0]

        # Made as the command makes it, under the same settings.
        options = {"phrase": "我们", "seed": 3}
        status, body = get(port, options)
        check(status == 200 and body == command_bytes(options, "png"), "a strip under the desktop's settings")
        threads = os.listdir("/proc/%d/task" % service)
        check(len(threads) == 1, "the render service runs %d threads" % len(threads))

        # Over the cap: refused before anything is drawn, naming the cap.
        refused = [
            ({"phrase": TEN, "dpi": 1200, "scale": 8}, "16000000 像素（宽 × 高 × 帧数）的上限"),
            ({"phrase": TEN, "dpi": 500, "scale": 2}, "16000000 像素（宽 × 高 × 帧数）的上限"),
            ({"phrase": TEN, "dpi": 600, "scale": 2, "format": "bmp"}, "的上限"),
            ({"phrase": TEN, "dpi": 450, "scale": 2, "format": "bmp"}, "超过了 32 MiB 的上限"),
        ]
        for options, cap in refused:
            what = "refused %s" % options
            with RenderWatch(service) as watch:
                status, body = get(port, options)
            check(status == 413, "%s: status %d" % (what, status))
            try:
                message = json.loads(body)["error"]
            except (ValueError, KeyError):
                message = body.decode("utf-8", "replace")
            check(message.startswith("图片太大：") and cap in message, "%s: %s" % (what, message))
            check_renders_stay_within_limit(watch, what)

        # A large picture under the cap is made, within the limit.
        options = {"phrase": TEN, "dpi": 600, "seed": 1}
        with RenderWatch(service) as watch:
            status, body = get(port, options)
        check(status == 200 and body.startswith(b"\x89PNG"), "a still of ten characters at 600 dpi: %d" % status)
        check(watch.seen, "the render of a large still was never seen")
        check_renders_stay_within_limit(watch, "a still at 600 dpi")
    finally:
        process.terminate()
        try:
            process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            process.kill()
            process.wait()
    if failures:
        sys.exit("%d check(s) failed" % len(failures))
    print("serve limits: over-cap requests refused with 413, renders within their memory limit, one thread")


main()
