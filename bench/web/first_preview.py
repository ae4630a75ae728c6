#!/usr/bin/python3
"""How soon the page quillow-serve serves shows its first preview.

Loads the page five times in headless chromium on loopback, the browser's
cache off (a first visit each time), and takes the time from the start of
the page's load to its first preview on screen (the page marks it). The
baseline, measured in the same run: the same render asked for directly
over HTTP. Prints both medians and their ratio, which is what the page
itself adds (its own files, its tables, starting its script).

usage: first_preview.py path/to/quillow-serve
"""
import http.client
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

from selenium import webdriver
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.support.ui import WebDriverWait

SERVE = os.path.abspath(sys.argv[1])
RUNS = 5


def main():
    work = tempfile.mkdtemp(prefix="first-preview-")
    log_path = os.path.join(work, "server.log")
    with open(log_path, "wb") as log:
        server = subprocess.Popen([SERVE, "--listen", "127.0.0.1:0"], stdout=subprocess.DEVNULL, stderr=log)
    driver = None
    try:
        port = None
        for _ in range(300):
            text = open(log_path, encoding="utf-8", errors="replace").read()
            if "http://127.0.0.1:" in text:
                port = int(text.split("http://127.0.0.1:")[1].split("/")[0])
                break
            time.sleep(0.1)
        if port is None:
            raise SystemExit("quillow-serve did not start")
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                     "--disable-background-networking", "--disable-component-update", "--disable-sync",
                     "--disable-dev-shm-usage", f"--user-data-dir={os.path.join(work, 'profile')}"):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=DriverService(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                                  options=options)
        driver.set_page_load_timeout(60)
        driver.execute_cdp_cmd("Network.enable", {})
        driver.execute_cdp_cmd("Network.setCacheDisabled", {"cacheDisabled": True})
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                               {"width": 360, "height": 740, "deviceScaleFactor": 1, "mobile": True})
        page, direct = [], []
        for _ in range(RUNS):
            driver.get(f"http://127.0.0.1:{port}/")
            WebDriverWait(driver, 60, poll_frequency=0.02).until(
                lambda d: d.execute_script("return performance.getEntriesByName('quillow-first-preview').length"))
            page.append(driver.execute_script(
                "return performance.getEntriesByName('quillow-first-preview')[0].startTime"))
            query = driver.execute_script("return document.getElementById('stage').dataset.shown")
            connection = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
            started = time.perf_counter()
            connection.request("GET", "/v1/render?" + query)
            connection.getresponse().read()
            direct.append((time.perf_counter() - started) * 1000)
            connection.close()
        page_ms, direct_ms = statistics.median(page), statistics.median(direct)
        print(f"web page: time to first preview, median of {RUNS} cold loads: {page_ms:.0f} ms (goal: within 1000 ms)")
        print(f"web page: the same render asked for directly: {direct_ms:.0f} ms")
        print(f"web page: first preview / direct render = {page_ms / direct_ms:.2f}")
    finally:
        if driver:
            driver.quit()
        server.terminate()
        server.wait(timeout=30)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
