#!/usr/bin/python3
"""Lighthouse's audit of the page quillow-serve serves, on its mobile preset.

Installs Lighthouse 12.2.3 from npm into a cache folder once (13 wants a
newer Node than Debian's), starts quillow-serve on a free loopback port and
audits the page with Debian's chromium. As a test: accessibility and best
practices at least 95. The performance score (goal: at least 90) is a
measure of speed, which moves with whatever else the machine is doing, so
it is printed, never asserted; `make bench` prints it too (--bench: no
goal is asserted at all). Prints every audit that fell short. Skips (exit
77) only when npm's registry cannot be reached and Lighthouse is not cached
yet.

usage: lighthouse.py path/to/quillow-serve output-folder [--bench]
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

SERVE, OUT = (os.path.abspath(p) for p in sys.argv[1:3])
BENCH = "--bench" in sys.argv[3:]
VERSION = "12.2.3"

def cache_folder():
    """The user's cache, kept across builds; the build folder where it cannot be written."""
    folder = os.path.join(os.environ.get("XDG_CACHE_HOME") or os.path.expanduser("~/.cache"), "quillow",
                          f"lighthouse-{VERSION}")
    try:
        os.makedirs(folder, exist_ok=True)
        if os.access(folder, os.W_OK):
            return folder
    except OSError:
        pass
    return os.path.join(OUT, f"lighthouse-{VERSION}")


CACHE = cache_folder()
LIGHTHOUSE = os.path.join(CACHE, "node_modules", ".bin", "lighthouse")
GOALS = {"accessibility": 0.95, "best-practices": 0.95, "performance": 0.90}
ASSERTED = set() if BENCH else {"accessibility", "best-practices"}
SKIP = 77


def install():
    if os.path.exists(LIGHTHOUSE):
        return True
    npm = shutil.which("npm")
    if not npm:
        print("SKIP: no npm", file=sys.stderr)
        return False
    try:
        reachable = subprocess.run([npm, "ping"], capture_output=True, timeout=30).returncode == 0
    except subprocess.TimeoutExpired:
        reachable = False
    if not reachable:
        print("SKIP: npm's registry cannot be reached", file=sys.stderr)
        return False
    os.makedirs(CACHE, exist_ok=True)
    result = subprocess.run([npm, "i", "-E", "--no-audit", "--no-fund", "--prefix", CACHE, f"lighthouse@{VERSION}"],
                            capture_output=True, text=True, timeout=600)
    if result.returncode != 0:
        raise SystemExit("npm could not install Lighthouse:\n" + result.stderr[-4000:])
    return True


def audit(port, work):
    """One audit; returns the asserted categories below their goal."""
    report = os.path.join(OUT, "lighthouse.json")
    flags = " ".join(["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                      "--disable-background-networking", "--disable-component-update", "--disable-sync",
                      "--disable-dev-shm-usage", f"--user-data-dir={os.path.join(work, f'profile')}"])
    environment = dict(os.environ, CHROME_PATH=shutil.which("chromium") or "/usr/bin/chromium")
    result = subprocess.run([LIGHTHOUSE, f"http://127.0.0.1:{port}/", "--quiet", "--output=json",
                             f"--output-path={report}", f"--chrome-flags={flags}",
                             "--only-categories=performance,accessibility,best-practices"],
                            env=environment, capture_output=True, text=True, timeout=240)
    if result.returncode != 0:
        raise SystemExit("Lighthouse failed:\n" + result.stderr[-4000:])
    audited = json.load(open(report))
    failed = []
    for name, goal in GOALS.items():
        score = audited["categories"][name]["score"]
        shown = round(score * 100) if score is not None else "none"
        print(f"lighthouse {name}: {shown} (goal {round(goal * 100)}{'' if name in ASSERTED else ', not asserted'})")
        if name in ASSERTED and (score is None or score < goal):
            failed.append(name)
    for row in audited["audits"].values():
        if row.get("score") is not None and row["score"] < 1 and row.get("scoreDisplayMode") != "informative":
            print(f"  {row['id']}: {row['score']} {row.get('displayValue', '')}")
    return failed


def main():
    if not install():
        return 0 if BENCH else SKIP
    work = tempfile.mkdtemp(prefix="lighthouse-")
    log_path = os.path.join(work, "server.log")
    with open(log_path, "wb") as log:
        server = subprocess.Popen([SERVE, "--listen", "127.0.0.1:0"], stdout=subprocess.DEVNULL, stderr=log)
    try:
        port = None
        for _ in range(300):
            text = open(log_path, encoding="utf-8", errors="replace").read()
            if "http://127.0.0.1:" in text:
                port = int(text.split("http://127.0.0.1:")[1].split("/")[0])
                break
            if server.poll() is not None:
                break
            time.sleep(0.1)
        if port is None:
            raise SystemExit("quillow-serve did not start: " + open(log_path).read())
        failed = audit(port, work)
    finally:
        server.terminate()
        try:
            server.wait(timeout=30)
        except subprocess.TimeoutExpired:
            server.kill()
    shutil.rmtree(work, ignore_errors=True)
    if failed:
        print("below the goal:", ", ".join(failed), file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
