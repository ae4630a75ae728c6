#!/usr/bin/env python3
"""The quillow-serve image, started as it is deployed, against quillow-render.

Makes the Debian package of this build tree (the programs the rest of the
suite tests; made again only when what it holds changed), builds the image
from it with scripts/make-container (skipped when an image of the same
package and Containerfile is already there; the base image is cached by that
script), and starts the image's own entrypoint read-only, as UID
10001, with a token read from a mounted file, in a network namespace of its
own: with `podman run --network=none`, or where this machine's container
runtime refuses to start containers, in the image's root file system under
unshare and chroot. The client enters that namespace and talks to its
loopback address only.

Checks: the server runs as 10001:10001 on a read-only root with no
capabilities; a request without the token gets 401; renders equal
quillow-render's bytes for the same options (a still PNG, a GIF sticker, a
WEBM video, whose FFmpeg libraries the package only names, never links);
SIGTERM stops it with exit 0.

usage: image_render.py BUILD_DIR SOURCE_DIR path/to/quillow-render
Environment: QUILLOW_PODMAN_RUN_ARGS adds arguments to `podman run` (for a
runtime that needs them); QUILLOW_IMAGE_FALLBACK=1 skips podman run.
"""
import glob
import hashlib
import http.client
import json
import os
import secrets
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

UID = "10001"
# Replace the image's default arguments: a token from a mounted file, and a
# render time limit for a busy machine (the test is about bytes, not speed).
ARGUMENTS = ["--token-file", "/run/quillow/token", "--time-limit", "120"]
CASES = [
    ("still png, seeded colours", {"phrase": "你好世界", "seed": 7}, "png"),
    ("gif sticker, wechat preset, shaking", {"phrase": "加油", "preset": "wechat", "effect": "shake",
                                            "format": "gif", "seed": 7}, "gif"),
    ("webm video", {"phrase": "喊叫", "format": "webm", "effect": "reveal", "seed": 5}, "webm"),
]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)
        print("FAIL:", what, file=sys.stderr)
    return condition


def query(options):
    return urllib.parse.urlencode({k: ("true" if v is True else str(v)) for k, v in options.items()})


# ---- the client, run inside the server's network namespace ---------------

def client(port, token, out_dir):
    """Waits for /healthz, then asks for every case; writes each body to a
    file and prints one JSON line of statuses."""
    def get(path, headers, timeout=120):
        connection = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
        try:
            connection.request("GET", path, headers=headers)
            response = connection.getresponse()
            return response.status, dict(response.getheaders()), response.read()
        finally:
            connection.close()

    report = {"healthz": None, "unauthorised": None, "renders": []}
    deadline = time.monotonic() + 60  # the server loads its fonts first
    for _ in range(600):
        if time.monotonic() > deadline:
            break
        try:
            report["healthz"] = get("/healthz", {}, timeout=5)[0]
            break
        except OSError:
            time.sleep(0.1)
    if report["healthz"] is None:
        print(json.dumps(report))
        return
    report["unauthorised"] = get("/v1/render?" + query(CASES[0][1]), {})[0]
    for index, (_, options, _) in enumerate(CASES):
        status, headers, body = get("/v1/render?" + query(options), {"Authorization": "Bearer " + token})
        with open(os.path.join(out_dir, "served-%d" % index), "wb") as out:
            out.write(body)
        report["renders"].append({"status": status, "type": headers.get("Content-Type", "")})
    print(json.dumps(report))


# ---- the package and the image ------------------------------------------

def run(arguments, **kwargs):
    print("+", " ".join(shlex.quote(a) for a in arguments), file=sys.stderr, flush=True)
    return subprocess.run(arguments, **kwargs)


def installed_digest(build, stage):
    """A digest of what the package would hold: the tree `cmake --install`
    makes (paths, modes, contents), which takes a second where cpack first
    brings every target of the tree up to date."""
    shutil.rmtree(stage, ignore_errors=True)
    done = subprocess.run(["cmake", "--install", build, "--prefix", os.path.join(stage, "usr")],
                          capture_output=True, text=True, timeout=300)
    if done.returncode != 0:
        raise SystemExit("cmake --install failed:\n" + done.stdout + done.stderr)
    digest = hashlib.sha256()
    for folder, folders, files in os.walk(stage):
        folders.sort()
        for name in sorted(files):
            path = os.path.join(folder, name)
            digest.update(("%s %o\n" % (os.path.relpath(path, stage), os.lstat(path).st_mode)).encode())
            if not os.path.islink(path):
                with open(path, "rb") as data:
                    digest.update(hashlib.sha256(data.read()).digest())
    shutil.rmtree(stage, ignore_errors=True)
    return digest.hexdigest()


def make_package(build, source, work):
    """The package of the tested build tree, made again only when what it
    holds changed; every file is dated at the last commit, so that the same
    programs make the same package."""
    out, stamp = os.path.join(work, "package"), os.path.join(work, "package.digest")
    digest = installed_digest(build, os.path.join(work, "stage"))
    debs = glob.glob(os.path.join(out, "quillow_*.deb"))
    if len(debs) == 1 and os.path.exists(stamp):
        with open(stamp) as previous:
            if previous.read() == digest:
                print("reusing %s" % debs[0], file=sys.stderr)
                return debs[0]
    epoch = subprocess.run(["git", "-C", source, "log", "-1", "--format=%ct"],
                           capture_output=True, text=True).stdout.strip() or "0"
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    if os.path.exists(stamp):
        os.unlink(stamp)
    env = dict(os.environ, SOURCE_DATE_EPOCH=epoch)
    done = run(["cpack", "-G", "DEB", "-B", out], cwd=build, env=env, capture_output=True, text=True, timeout=600)
    if done.returncode != 0:
        raise SystemExit("cpack failed:\n" + done.stdout + done.stderr)
    debs = glob.glob(os.path.join(out, "quillow_*.deb"))
    if len(debs) != 1:
        raise SystemExit("expected one package in %s, found %r" % (out, debs))
    with open(stamp, "w") as written:
        written.write(digest)
    return debs[0]


def make_image(build, source, deb):
    """quillow-serve:test-<build tree>-<package and Containerfile>, built
    once for each. Only this build tree's older images are removed: another
    tree's test may be using its own at the same time."""
    digest = hashlib.sha256()
    for path in (deb, os.path.join(source, "Containerfile")):
        with open(path, "rb") as data:
            digest.update(hashlib.sha256(data.read()).digest())
    tree = "test-" + hashlib.sha256(build.encode()).hexdigest()[:8] + "-"
    tag = "localhost/quillow-serve:" + tree + digest.hexdigest()[:12]
    if subprocess.run(["podman", "image", "exists", tag]).returncode == 0:
        print("reusing %s" % tag, file=sys.stderr)
        return tag
    started = time.monotonic()
    done = run([os.path.join(source, "scripts", "make-container"), "--tag", tag, deb], timeout=1800)
    if done.returncode != 0:
        raise SystemExit("make-container failed")
    print("built %s in %.0f s" % (tag, time.monotonic() - started), file=sys.stderr)
    # Earlier packages' images are of no more use; their layers are large.
    listed = subprocess.run(["podman", "images", "--format", "{{.Repository}}:{{.Tag}}", "localhost/quillow-serve"],
                            capture_output=True, text=True).stdout.split()
    stale = [name for name in listed if (":" + tree) in name and name != tag]
    if stale:
        subprocess.run(["podman", "rmi", "--force", *stale], capture_output=True)
    return tag


def image_config(tag):
    done = subprocess.run(["podman", "image", "inspect", tag], capture_output=True, text=True, check=True)
    return json.loads(done.stdout)[0]["Config"]


# ---- two ways of starting the entrypoint ---------------------------------

class PodmanRun:
    """`podman run` as an operator would, with no network but its own
    loopback, so that nothing it listens on is reachable from outside."""
    how = "podman run"

    def __init__(self, tag, token_dir):
        self.name = "quillow-image-test-%d" % os.getpid()
        extra = shlex.split(os.environ.get("QUILLOW_PODMAN_RUN_ARGS", ""))
        done = run(["podman", "run", "-d", "--name", self.name, "--pull=never", "--network=none",
                    "--read-only", "--tmpfs", "/tmp:rw,size=64m,mode=1777", "--user", UID + ":" + UID,
                    "--cap-drop=all", "--security-opt=no-new-privileges",
                    "-v", token_dir + ":/run/quillow:ro", *extra,
                    tag, *ARGUMENTS], capture_output=True, text=True, timeout=120)
        if done.returncode != 0:
            subprocess.run(["podman", "rm", "--force", self.name], capture_output=True)
            raise RuntimeError(done.stderr.strip().splitlines()[-1] if done.stderr.strip() else "exit %d" %
                               done.returncode)
        self.pid = int(subprocess.run(["podman", "inspect", "--format", "{{.State.Pid}}", self.name],
                                      capture_output=True, text=True, check=True).stdout)

    def server_pid(self):
        return self.pid

    def stop(self):
        subprocess.run(["podman", "stop", "--time", "60", self.name], capture_output=True, timeout=120)
        code = subprocess.run(["podman", "inspect", "--format", "{{.State.ExitCode}}", self.name],
                              capture_output=True, text=True).stdout.strip()
        self.saved_logs = self.logs()
        subprocess.run(["podman", "rm", "--force", self.name], capture_output=True, timeout=120)
        return int(code) if code.lstrip("-").isdigit() else None

    def logs(self):
        if hasattr(self, "saved_logs"):
            return self.saved_logs
        done = subprocess.run(["podman", "logs", self.name], capture_output=True, text=True)
        return done.stdout + done.stderr


# Run by the host's shell inside fresh network, mount and PID namespaces: the
# image's files, read-only, with what a runtime would add (a private /tmp,
# /run, /proc and the few devices a program uses); then the entrypoint as
# 10001:10001 with no capabilities and no way to gain any.
SANDBOX = r"""
set -eu
image=$1 token_dir=$2; shift 2
ip link set lo up
mount --make-rprivate /
root=$(mktemp -d)
mount --bind "$image" "$root"
mount -o remount,bind,ro "$root"
mount -t tmpfs -o size=64m,mode=1777 tmpfs "$root/tmp"
mount -t tmpfs -o mode=755 tmpfs "$root/run"
mkdir "$root/run/quillow"
mount --bind "$token_dir" "$root/run/quillow"
mount -o remount,bind,ro "$root/run/quillow"
mount -t proc proc "$root/proc"
mount -t tmpfs -o mode=755 tmpfs "$root/dev"
for node in null zero full random urandom tty; do
  touch "$root/dev/$node"
  mount --bind "/dev/$node" "$root/dev/$node"
done
mkdir -m 1777 "$root/dev/shm"
ln -s /proc/self/fd "$root/dev/fd"
exec chroot "$root" /usr/bin/setpriv --reuid=$QUILLOW_UID --regid=$QUILLOW_UID --clear-groups --no-new-privs \
  --inh-caps=-all --bounding-set=-all -- "$@"
"""


class NamespaceRun:
    how = "the image's root file system under unshare and chroot"

    def __init__(self, tag, token_dir, log_path):
        config = image_config(tag)
        self.tag = tag
        self.image = subprocess.run(["podman", "image", "mount", tag], capture_output=True, text=True,
                                    check=True).stdout.strip()
        command = ["/usr/bin/env", "-i", *(config.get("Env") or []), *config["Entrypoint"], *ARGUMENTS]
        self.log = open(log_path, "wb")
        self.process = subprocess.Popen(
            ["unshare", "--net", "--mount", "--pid", "--fork", "--kill-child", "--",
             "sh", "-c", SANDBOX, "sandbox", self.image, token_dir, *command],
            stdout=self.log, stderr=self.log, env=dict(os.environ, QUILLOW_UID=UID))
        self.log_path = log_path
        self.pid = self.process.pid

    def server_pid(self):
        # unshare's one child, once it has become the server.
        for _ in range(300):
            for task in os.listdir("/proc/%d/task" % self.pid):
                with open("/proc/%d/task/%s/children" % (self.pid, task)) as listing:
                    for child in listing.read().split():
                        with open("/proc/%s/comm" % child) as comm:
                            if comm.read().strip() == "quillow-serve":
                                return int(child)
            if self.process.poll() is not None:
                return None
            time.sleep(0.1)
        return None

    def stop(self):
        server = self.server_pid()
        if server:
            os.kill(server, signal.SIGTERM)
        try:
            code = self.process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            self.process.kill()
            code = None
            self.process.wait()
        subprocess.run(["podman", "image", "unmount", self.tag], capture_output=True)
        return code

    def logs(self):
        self.log.flush()
        with open(self.log_path, encoding="utf-8", errors="replace") as log:
            return log.read()


# ---- the checks -----------------------------------------------------------

def process_status(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as status:
        for line in status:
            key, _, value = line.partition(":")
            fields[key] = value.split()
    return fields


def root_is_read_only(pid):
    root_options = []
    with open("/proc/%d/mountinfo" % pid) as mounts:
        for line in mounts:
            parts = line.split()
            if parts[4] == "/":
                root_options = parts[5].split(",")
        return "ro" in root_options


def rendered_by_command(render, options, suffix, work):
    output = os.path.join(work, "expected." + suffix)
    arguments = [render, "-o", output]
    for key, value in options.items():
        if key != "phrase":
            arguments += ["--" + key] if value is True else ["--" + key, str(value)]
    done = subprocess.run(arguments + ["--", options["phrase"]], capture_output=True, timeout=300,
                          env=dict(os.environ, QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8"))
    if done.returncode != 0:
        return None, done.stderr.decode(errors="replace")
    with open(output, "rb") as data:
        return data.read(), ""


def main():
    if len(sys.argv) == 5 and sys.argv[1] == "--client":
        client(int(sys.argv[2]), sys.argv[3], sys.argv[4])
        return 0
    build, source, render = (os.path.abspath(p) for p in sys.argv[1:4])
    work = os.path.join(build, "tests", "package", "image")
    started = time.monotonic()
    deb = make_package(build, source, work)
    tag = make_image(build, source, deb)
    config = image_config(tag)
    check(config.get("User") == UID + ":" + UID, "the image runs as %r, not %s" % (config.get("User"), UID))
    # The port the entrypoint listens on, inside the server's own network.
    entrypoint = config.get("Entrypoint") or []
    listen = entrypoint[entrypoint.index("--listen") + 1] if "--listen" in entrypoint else "127.0.0.1:8080"
    port = listen.rsplit(":", 1)[1]
    print("package and image ready in %.0f s" % (time.monotonic() - started), file=sys.stderr)

    scratch = tempfile.mkdtemp(prefix="image-render-")
    token_dir = os.path.join(scratch, "secret")
    os.mkdir(token_dir)
    os.chmod(scratch, 0o755)
    os.chmod(token_dir, 0o755)
    token = secrets.token_hex(16)
    with open(os.path.join(token_dir, "token"), "w") as out:
        out.write(token + "\n")
    os.chmod(os.path.join(token_dir, "token"), 0o644)
    out_dir = os.path.join(scratch, "served")
    os.mkdir(out_dir)

    server = None
    if os.environ.get("QUILLOW_IMAGE_FALLBACK") != "1":
        try:
            server = PodmanRun(tag, token_dir)
        except RuntimeError as refusal:
            print("podman run refused here (%s); starting the entrypoint in the image's root file system "
                  "under a private network namespace instead" % refusal, file=sys.stderr)
    if server is None:
        server = NamespaceRun(tag, token_dir, os.path.join(scratch, "server.log"))
    print("started with", server.how, file=sys.stderr)

    try:
        pid = server.server_pid()
        if not check(pid, "the server did not start: " + server.logs()):
            return 1
        status = process_status(pid)
        check(status["Uid"] == [UID] * 4 and status["Gid"] == [UID] * 4,
              "the server runs as uid %s gid %s" % (status["Uid"], status["Gid"]))
        check(int(status["CapEff"][0], 16) == 0 and status["NoNewPrivs"] == ["1"],
              "the server keeps capabilities %s (no new privileges %s)" % (status["CapEff"], status["NoNewPrivs"]))
        check(root_is_read_only(pid), "the server's root file system is writable")

        done = subprocess.run(["nsenter", "--net=/proc/%d/ns/net" % pid, "--", sys.executable,
                               os.path.abspath(__file__), "--client", port, token, out_dir],
                              capture_output=True, text=True, timeout=900)
        try:
            report = json.loads(done.stdout.strip().splitlines()[-1])
        except (ValueError, IndexError):
            report = None
        if not check(report and report["healthz"] == 200,
                     "no answer from the server: %s %s\n%s" % (done.stdout, done.stderr, server.logs())):
            return 1
        check(report["unauthorised"] == 401, "without the token: %r" % report["unauthorised"])
        for index, (name, options, suffix) in enumerate(CASES):
            served = report["renders"][index]
            if not check(served["status"] == 200, "%s: status %s" % (name, served["status"])):
                continue
            expected, message = rendered_by_command(render, options, suffix, scratch)
            if not check(expected is not None, "%s: quillow-render failed: %s" % (name, message)):
                continue
            with open(os.path.join(out_dir, "served-%d" % index), "rb") as data:
                check(data.read() == expected, "%s: the image's bytes differ from quillow-render's" % name)
    finally:
        code = server.stop()
        check(code == 0, "SIGTERM: exit status %r\n%s" % (code, server.logs()))
        shutil.rmtree(scratch, ignore_errors=True)
    print("%s in %.0f s: %d failure(s)" % (server.how, time.monotonic() - started, len(failures)), file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
