#!/usr/bin/python3
"""The page quillow-serve serves at /, in a real browser.

Starts quillow-serve on a free loopback port and checks its page's headers
(security, strong tags, caching) and /v1/presets; then drives Debian's
chromium headless through WebDriver as a person would: types a phrase,
picks WhatsApp and 逐字出现, and compares the preview's bytes with
quillow-render's for the same options and seed; downloads with the keyboard
alone; plays a WEBM in the <video>; shows a refusal beside its control;
keeps the last preview when the service goes away; asks for a token once a
tab; no console errors; no sideways scrolling at 360 px or at a 320 px
reflow width. Screenshots land in the build folder. Prints the time from
the page's start to its first preview.

Every wait is bounded and every request goes to 127.0.0.1 only.

usage: web_page.py path/to/quillow-serve path/to/quillow-render output-folder
"""
import base64
import hashlib
import http.client
import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse

from selenium import webdriver
from selenium.common.exceptions import TimeoutException
from selenium.webdriver.chrome.service import Service as DriverService
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "server"))
import serve_http  # noqa: E402
from serve_http import Server, check, failures  # noqa: E402  (the server fixture and the checks)

SERVE, RENDER, OUT = (os.path.abspath(p) for p in sys.argv[1:4])
WORK = tempfile.mkdtemp(prefix="web-page-")
os.makedirs(OUT, exist_ok=True)
WAIT_S = 60  # far above a normal render on a busy machine


def check_headers(server):
    status, headers, page = server.request("GET", "/")
    check(status == 200 and headers.get("content-type", "").startswith("text/html"), f"GET / answers {status}")
    policy = headers.get("content-security-policy", "")
    for part in ("default-src 'self'", "frame-ancestors 'none'"):
        check(part in policy, f"the page's policy has {part}: {policy}")
    check("'unsafe-inline'" not in policy and "'unsafe-eval'" not in policy, "no script beyond the page's own")
    check(headers.get("x-content-type-options") == "nosniff", "nosniff")
    check(headers.get("referrer-policy") == "no-referrer", "no referrer")
    check(b"<script>" not in page and b"onclick" not in page, "no inline script in the page")
    check(b'lang="zh-CN"' in page, "the page is in Simplified Chinese")

    # Each file the page names lives at an address of its own bytes, kept
    # for a year; the page itself is checked again each time.
    check(headers.get("cache-control") == "no-cache", "the page is revalidated")
    named = [part.split('"')[0] for part in page.decode().split('"/web/')[1:]]
    check(len(named) >= 3, f"the page names its script, style sheet and icon by version: {named}")
    total = len(page)
    for path in {"/web/" + n for n in named}:
        status, file_headers, body = server.request("GET", path)
        total += len(body)
        etag = file_headers.get("etag", "")
        check(status == 200 and etag.startswith('"') and not etag.startswith("W/"), f"{path}: a strong tag")
        check("immutable" in file_headers.get("cache-control", "") and "max-age=31536000" in
              file_headers.get("cache-control", ""), f"{path} kept long")
        check(file_headers.get("x-content-type-options") == "nosniff", f"{path}: nosniff")
        status, again, body = server.request("GET", path, headers={"If-None-Match": etag})
        check(status == 304 and body == b"" and again.get("etag") == etag, f"{path}: 304 for its own tag")
        status, _, _ = server.request("GET", path, headers={"If-None-Match": '"another"'})
        check(status == 200, f"{path}: 200 for another tag")
    check(total < 60 * 1024, f"the page and its files weigh {total} bytes, under 60 KB")
    print(f"page weight: {total} bytes")

    for method, path, expected in [("POST", "/", 405), ("GET", "/nothing-here", 404), ("HEAD", "/", 200),
                                   ("POST", "/v1/presets", 405)]:
        status, _, _ = server.request(method, path)
        check(status == expected, f"{method} {path}: {status}, expected {expected}")

    status, headers, body = server.request("GET", "/v1/presets")
    check(status == 200 and headers.get("content-type", "").startswith("application/json"), "/v1/presets JSON")
    catalogue = json.loads(body)
    presets = {p["name"]: p for p in catalogue["presets"]}
    check("" in presets and "whatsapp" in presets, f"presets: {sorted(presets)}")
    check(all(p["still"]["formats"] for p in presets.values()), "every preset takes a still")
    # The format made for each effect is one the preset takes for that kind.
    animates = {e["name"]: e["animates"] for e in catalogue["effects"]}
    for p in presets.values():
        for effect, made in p["formatFor"].items():
            check(made in p["animated" if animates[effect] else "still"]["formats"], f"{p['name']} {effect}: {made}")
        check(set(p["formatFor"]) == ({e for e in animates if not animates[e]} if not p["animated"]["formats"]
                                      else set(animates)), f"{p['name']}: a format for every effect it takes")
    formats = {f["name"] for f in catalogue["formats"]}
    check(all(set(p["still"]["formats"] + p["animated"]["formats"]) <= formats for p in presets.values()),
          "presets name only formats of the table")
    check({"still", "reveal"} <= {e["name"] for e in catalogue["effects"]}, "effects")
    check("readable" in catalogue["looks"], "looks")
    return catalogue


def viewport(driver, width, height, mobile):
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})


def browser(width, height, downloads):
    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
    for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-dev-shm-usage", "--autoplay-policy=no-user-gesture-required",
                 f"--user-data-dir={tempfile.mkdtemp(prefix='chromium-', dir=WORK)}",
                 f"--window-size={width},{height}", "--lang=zh-CN"):
        options.add_argument(flag)
    options.add_experimental_option("prefs", {"download.default_directory": downloads,
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    driver = webdriver.Chrome(service=DriverService(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
                              options=options)
    driver.set_page_load_timeout(WAIT_S)
    driver.set_script_timeout(WAIT_S)
    driver.execute_cdp_cmd("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": downloads})
    # The window's own size has a floor in headless mode; the page's is exact.
    viewport(driver, width, height, width < 900)
    return driver


def wait_for(driver, condition, what, seconds=WAIT_S):
    try:
        return WebDriverWait(driver, seconds, poll_frequency=0.05).until(lambda d: condition(d))
    except TimeoutException:
        check(False, f"timed out waiting for {what}")
        return None


def shown(driver):
    """The query of the preview on screen once the page is idle, or None."""
    return driver.execute_script(
        "const s = document.getElementById('stage');"
        "return s.getAttribute('aria-busy') === 'false' ? (s.dataset.shown || null) : null;")


def settle(driver, test, what):
    """Waits until the preview on screen passes `test`, then returns its query."""
    asked = wait_for(driver, lambda d: (lambda q: q if q and test(urllib.parse.parse_qs(q)) else None)(shown(d)),
                     what)
    return asked


def preview_bytes(driver):
    encoded = driver.execute_async_script(
        "const done = arguments[arguments.length - 1];"
        "const m = document.querySelector('#stage img:not([hidden]), #stage video:not([hidden])');"
        "fetch(m.src).then(r => r.arrayBuffer()).then(b => {"
        "  let s = ''; const a = new Uint8Array(b);"
        "  for (let i = 0; i < a.length; i += 8192) s += String.fromCharCode.apply(null, a.subarray(i, i + 8192));"
        "  done(btoa(s)); }).catch(e => done('error ' + e));")
    return base64.b64decode(encoded) if not encoded.startswith("error") else b""


def render_like(query, suffix):
    """quillow-render's file for the options of a preview's query."""
    pairs = urllib.parse.parse_qsl(query, keep_blank_values=True)
    arguments = [RENDER]
    phrase = None
    for name, value in pairs:
        if name == "phrase":
            phrase = value
        elif name in ("bold", "italic"):
            arguments.append(f"--{name}")
        else:
            arguments += [f"--{name}", value]
    output = os.path.join(WORK, "cli." + suffix)
    result = subprocess.run(arguments + ["-o", output, "--", phrase], capture_output=True, timeout=120)
    check(result.returncode == 0, f"quillow-render {arguments[1:]}: {result.stderr.decode(errors='replace')}")
    return open(output, "rb").read() if result.returncode == 0 else b""


def console_errors(driver, allowed=()):
    errors = [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    return [e for e in errors if not any(a in e for a in allowed)]


def no_sideways_scroll(driver, what):
    wide = driver.execute_script(
        "return document.documentElement.scrollWidth - document.documentElement.clientWidth")
    check(wide <= 0, f"{what}: {wide} px of sideways scrolling")


def phone_flow(server):
    downloads = os.path.join(WORK, "downloads")
    os.makedirs(downloads)
    driver = browser(360, 740, downloads)
    try:
        driver.get(server.base + "/")
        first = settle(driver, lambda q: True, "the first preview")
        if first:
            ms = driver.execute_script(
                "return performance.getEntriesByName('quillow-first-preview')[0].startTime")
            print(f"time to first preview: {ms:.0f} ms")
            with open(os.path.join(OUT, "first_preview_ms.txt"), "w") as f:
                f.write(f"{ms:.0f}\n")
        no_sideways_scroll(driver, "360 px")
        check(console_errors(driver) == [], f"console errors on load: {console_errors(driver)}")

        # An input method composing pinyin: no preview of the letters, one of
        # the character chosen.
        phrase = driver.find_element(By.ID, "phrase")
        phrase.click()
        phrase.send_keys(Keys.END)
        driver.execute_cdp_cmd("Input.imeSetComposition", {"text": "ha", "selectionStart": 2, "selectionEnd": 2})
        time.sleep(1)
        previewed = urllib.parse.parse_qs(shown(driver) or "phrase=ha").get("phrase", ["ha"])[0]
        check(phrase.get_attribute("value").endswith("ha") and not previewed.endswith("ha"),
              f"no preview while composing: {previewed}")
        driver.execute_cdp_cmd("Input.insertText", {"text": "哈"})
        check(settle(driver, lambda q: q.get("phrase", [""])[0].endswith("哈"), "the composed character"),
              "the composed character is previewed")

        # A person's sticker, as the command line makes it with the same seed.
        phrase.send_keys(Keys.CONTROL, "a")
        phrase.send_keys(Keys.DELETE)
        phrase.send_keys("友谊的小船说翻就翻")
        check(driver.find_element(By.ID, "phrase-count").text == "9/10", "the box counts nine characters")
        Select(driver.find_element(By.ID, "preset")).select_by_value("whatsapp")
        Select(driver.find_element(By.ID, "effect")).select_by_value("reveal")
        asked = settle(driver, lambda q: q.get("phrase") == ["友谊的小船说翻就翻"] and q.get("preset") == ["whatsapp"]
                       and q.get("effect") == ["reveal"], "the WhatsApp reveal preview")
        if asked:
            page_bytes = preview_bytes(driver)
            suffix = urllib.parse.parse_qs(asked).get("format", ["webp"])[0]
            check(page_bytes and page_bytes == render_like(asked, suffix),
                  f"the preview equals quillow-render's file for {asked}")
            facts = driver.find_element(By.ID, "facts").text
            check("帧数" in facts and "上限" in facts and "像素" in facts, f"the facts: {facts!r}")
            driver.save_screenshot(os.path.join(OUT, "web_360x740.png"))

            # Keyboard alone: from the phrase box to 下载, then Enter.
            phrase.click()
            reached = False
            for _ in range(40):
                active = driver.switch_to.active_element
                if active.get_attribute("id") == "download":
                    reached = True
                    break
                outline = driver.execute_script(
                    "const s = getComputedStyle(document.activeElement);"
                    "return s.outlineStyle + ' ' + s.outlineWidth;")
                check(not outline.startswith("none"), f"visible focus on {active.get_attribute('id')}")
                active.send_keys(Keys.TAB)
            check(reached, "Tab reaches 下载 from the phrase box")
            if reached:
                name = driver.find_element(By.ID, "download").get_attribute("download")
                check(name == "友谊的小船说翻就翻." + suffix, f"the file name the service gives: {name}")
                driver.switch_to.active_element.send_keys(Keys.ENTER)
                target = os.path.join(downloads, name)
                for _ in range(200):
                    if os.path.exists(target) and not any(f.endswith(".crdownload") for f in os.listdir(downloads)):
                        break
                    time.sleep(0.1)
                check(os.path.exists(target) and open(target, "rb").read() == page_bytes,
                      f"the downloaded file is the preview: {os.listdir(downloads)}")

            # 复制 says what it did: copied, or why not (the clipboard may
            # refuse a page that is not in front).
            driver.find_element(By.ID, "copy").click()
            copied = wait_for(driver, lambda d: d.find_element(By.ID, "action-note").text, "复制's note")
            check(copied, "复制 leaves a note")

            # 换一组: another seed, another file.
            seed = urllib.parse.parse_qs(asked)["seed"]
            driver.find_element(By.ID, "reseed").click()
            check(settle(driver, lambda q: q.get("seed") != seed and q.get("effect") == ["reveal"], "a new seed"),
                  "换一组 asks for other colours")

        # A WEBM plays, looping and muted, in the <video>.
        catalogue = json.loads(server.request("GET", "/v1/presets")[2])
        webm = next((p["name"] for p in catalogue["presets"] if p["formatFor"].get("reveal") == "webm"), None)
        if check(webm, "a preset makes WEBM"):
            Select(driver.find_element(By.ID, "preset")).select_by_value(webm)
            Select(driver.find_element(By.ID, "effect")).select_by_value("reveal")
            # A WEBM takes seconds: the page says it is at work meanwhile.
            check(wait_for(driver, lambda d: "正在生成" in d.find_element(By.ID, "status").text
                           or "webm" in (shown(d) or ""), "the WEBM under way"), "a slow render is said")
            if settle(driver, lambda q: q.get("format") == ["webm"], "the WEBM preview"):
                playing = wait_for(driver, lambda d: d.execute_script(
                    "const v = document.getElementById('movie');"
                    "return !v.hidden && v.readyState >= 2 && !v.paused && v.loop && v.muted "
                    "&& v.videoWidth > 0 && document.getElementById('picture').hidden;"), "the WEBM playing")
                check(playing, "the WEBM plays in the video")
        check(console_errors(driver) == [], f"console errors: {console_errors(driver)}")

        # A refusal shows beside the control it is about, the preview kept.
        Select(driver.find_element(By.ID, "preset")).select_by_value("whatsapp")
        Select(driver.find_element(By.ID, "effect")).select_by_value("still")
        settle(driver, lambda q: q.get("preset") == ["whatsapp"] and q.get("effect") == ["still"], "a still")
        driver.execute_script("document.querySelector('#rows option[value=\"4\"]').value = '9';")
        Select(driver.find_element(By.ID, "rows")).select_by_index(5)
        message = wait_for(driver, lambda d: d.find_element(By.ID, "rows-error").text, "the rows' error")
        check(message and "行数" in message, f"the service's message beside the rows: {message!r}")
        check(driver.find_element(By.ID, "rows").get_attribute("aria-invalid") == "true", "rows marked invalid")
        check(driver.find_element(By.ID, "picture").is_displayed(), "the last preview stays")
        driver.find_element(By.CSS_SELECTOR, 'input[name="ground"][value="dark"]').click()
        driver.execute_script("document.getElementById('rows').scrollIntoView({block: 'center'})")
        driver.save_screenshot(os.path.join(OUT, "web_360_refusal.png"))
        driver.execute_script("document.getElementById('stage').scrollIntoView()")
        driver.save_screenshot(os.path.join(OUT, "web_360_dark.png"))
        check(console_errors(driver, ["/v1/render"]) == [], f"console errors: {console_errors(driver)}")
        Select(driver.find_element(By.ID, "rows")).select_by_index(0)
        settle(driver, lambda q: "rows" not in q, "the preview after the refusal")
        check(driver.find_element(By.ID, "rows-error").text == "", "the error goes with the next preview")

        # Reflow: a 1280 px screen at 400 % zoom is 320 CSS pixels wide, a
        # 360 px phone at 200 % is 180.
        for width, mobile in [(320, False), (180, True)]:
            viewport(driver, width, 640, mobile)
            time.sleep(0.3)
            no_sideways_scroll(driver, f"{width} px")
            box = driver.find_element(By.ID, "phrase").size["width"]
            check(box >= width * 0.5, f"{width} px: the phrase box keeps {box} px")
        viewport(driver, 360, 740, True)

        # The service gone: said, and the last preview kept.
        server.stop()
        phrase = driver.find_element(By.ID, "phrase")
        phrase.send_keys(Keys.BACKSPACE)
        said = wait_for(driver, lambda d: "连接不上" in d.find_element(By.ID, "status").text, "the lost connection")
        check(said and driver.find_element(By.ID, "picture").is_displayed(), "a lost connection keeps the preview")
    finally:
        driver.quit()


def desktop_and_token(server):
    token_file = os.path.join(WORK, "token")
    with open(token_file, "w") as f:
        f.write("s3cret-token\n")
    guarded = Server("--token-file", token_file, name="guarded")
    driver = browser(1280, 800, WORK)
    try:
        driver.get(server.base + "/")
        if settle(driver, lambda q: True, "the desktop preview"):
            columns = driver.execute_script(
                "return getComputedStyle(document.querySelector('main')).gridTemplateColumns.split(' ').length")
            check(columns == 2, f"two columns at 1280 px: {columns}")
            driver.save_screenshot(os.path.join(OUT, "web_1280x800.png"))

        # Behind a token: asked once, then kept for the tab.
        driver.get(guarded.base + "/")
        box = wait_for(driver, lambda d: d.find_element(By.ID, "token").is_displayed(), "the token box")
        if box:
            token = driver.find_element(By.ID, "token")
            token.send_keys("wrong", Keys.ENTER)
            check(wait_for(driver, lambda d: "令牌不对" in d.find_element(By.ID, "status").text
                           and d.find_element(By.ID, "token").is_displayed(), "a wrong token refused"),
                  "a wrong token is asked for again")
            token.send_keys("s3cret-token", Keys.ENTER)
            check(settle(driver, lambda q: True, "a preview with the token"), "the token lets renders through")
            driver.refresh()
            check(settle(driver, lambda q: True, "a preview after a reload"), "the tab keeps the token")
            check(not driver.find_element(By.ID, "token").is_displayed(), "the token is asked only once")
        check(console_errors(driver, ["/v1/render"]) == [], f"console errors: {console_errors(driver)}")
    finally:
        driver.quit()
        guarded.stop()


# Renders for a few seconds: holds the only worker of a server without a
# queue while the page asks for its preview.
HEAVY = {"phrase": "你好世界加油喊叫声音", "format": "webp", "effect": "reveal-shake", "frame-ms": "10",
         "hold-ms": "0", "outline": "12", "shadow": "true", "shadow-blur": "20", "seed": "1"}


def busy_service():
    """A full queue: the page waits Retry-After, asks once more, then says so."""
    busy = Server("--workers", "1", "--queue", "0", name="busy")
    driver = browser(1280, 800, WORK)
    try:
        driver.get(busy.base + "/")
        if not settle(driver, lambda q: True, "the first preview of the busy server"):
            return
        heavy = threading.Thread(target=busy.request, args=("GET", "/v1/render?" + urllib.parse.urlencode(HEAVY)))
        heavy.start()
        for _ in range(100):
            if b"quillow_in_flight 1" in busy.request("GET", "/metrics")[2]:
                break
            time.sleep(0.05)
        driver.find_element(By.ID, "bold").click()
        waited = wait_for(driver, lambda d: "自动重试" in d.find_element(By.ID, "status").text,
                          "the page waiting after 429")
        check(waited, "429: the page says it will try again")
        ended = wait_for(driver, lambda d: d.execute_script(
            "const s = document.getElementById('stage');"
            "return s.getAttribute('aria-busy') === 'false' && ((s.dataset.shown || '').includes('bold=true')"
            " || document.getElementById('status').textContent.includes('服务正忙，请稍后'));"),
            "the retry's outcome")
        check(ended, "429: the retry ends in a preview or a message")
        heavy.join(timeout=WAIT_S)
        metrics = busy.request("GET", "/metrics")[2].decode()
        refused = sum(int(line.rsplit(" ", 1)[1]) for line in metrics.splitlines()
                      if line.startswith('quillow_requests_total{status="429"'))
        check(1 <= refused <= 2, f"429: asked again once, not more ({refused} refusals)")
    finally:
        driver.quit()
        busy.stop()


def main():
    server = Server()
    no_web = Server("--no-web", name="no-web")
    try:
        check_headers(server)
        check(no_web.request("GET", "/")[0] == 404, "--no-web: no page")
        check(no_web.request("GET", "/v1/presets")[0] == 200, "--no-web: the tables stay for bots")
        no_web.stop()
        desktop_and_token(server)
        busy_service()
        phone_flow(server)
    finally:
        server.stop()
        no_web.stop()
    if failures:
        print(f"{len(failures)} failed", file=sys.stderr)
        return 1
    shutil.rmtree(WORK, ignore_errors=True)
    shutil.rmtree(serve_http.WORK, ignore_errors=True)
    print("ok; screenshots in", OUT)
    return 0


if __name__ == "__main__":
    sys.exit(main())
