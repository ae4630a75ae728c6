"""quillow-serve's POST /v1/pack: a pack's JSON answered with the ZIP the
command line makes, held to the same rules; a refused pack is a 400 that
names the rule. The server listens on a free loopback port only.

    serve_pack.py QUILLOW_SERVE
"""

import http.client
import json
import os
import subprocess
import sys
import tempfile
import time

import pack_rules


def start(serve, folder):
    log_path = os.path.join(folder, "serve.log")
    log = open(log_path, "wb")
    process = subprocess.Popen([serve, "--listen", "127.0.0.1:0"], stdout=subprocess.DEVNULL, stderr=log)
    for _ in range(300):
        text = open(log_path, encoding="utf-8", errors="replace").read()
        if "http://127.0.0.1:" in text:
            return process, int(text.split("http://127.0.0.1:")[1].split("/")[0])
        if process.poll() is not None:
            break
        time.sleep(0.1)
    process.kill()
    raise SystemExit("quillow-serve did not start: " + open(log_path).read())


def post(port, body):
    connection = http.client.HTTPConnection("127.0.0.1", port, timeout=240)
    try:
        connection.request("POST", "/v1/pack", body=json.dumps(body).encode(),
                           headers={"Content-Type": "application/json"})
        response = connection.getresponse()
        return response.status, response.getheader("Content-Type"), response.read()
    finally:
        connection.close()


def main():
    serve = sys.argv[1]
    failures = []
    case = next(case for case in pack_rules.CASES if case[0] == "whatsapp still")
    name, app, effect, phrases, arguments = case[:5]
    items = []
    for line in phrases.splitlines():
        phrase, tab, tags = line.partition("\t")
        items.append({"phrase": phrase, "emoji": tags} if tab else phrase)
    with tempfile.TemporaryDirectory() as folder:
        process, port = start(serve, folder)
        try:
            status, kind, body = post(port, {"pack": app, "phrases": items, "pack-name": arguments[1],
                                             "publisher": arguments[3], "effect": effect})
            if status != 200 or kind != "application/zip":
                failures.append("pack: %d %s %r" % (status, kind, body[:300]))
            else:
                path = os.path.join(folder, "served.zip")
                with open(path, "wb") as file:
                    file.write(body)
                failures += ["served pack: " + problem for problem in pack_rules.check_pack(path, case, folder)]
            status, kind, body = post(port, {"pack": "line", "phrases": ["好的"]})
            if status != 400 or "现有 1 张" not in body.decode("utf-8", "replace"):
                failures.append("refused pack: %d %r" % (status, body[:300]))
        finally:
            process.terminate()
            try:
                process.wait(timeout=60)
            except subprocess.TimeoutExpired:
                process.kill()
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
