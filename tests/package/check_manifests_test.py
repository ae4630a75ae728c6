#!/usr/bin/python3
"""scripts/check-manifests: the deployment files as they are pass, and each
of a table of single faults, made in a copy of them, is named.

usage: check_manifests_test.py SOURCE_DIR
"""
import copy
import importlib.machinery
import importlib.util
import os
import re
import sys

import yaml

SOURCE = os.path.abspath(sys.argv[1])
loader = importlib.machinery.SourceFileLoader("check_manifests", os.path.join(SOURCE, "scripts", "check-manifests"))
spec = importlib.util.spec_from_loader("check_manifests", loader)
checker_module = importlib.util.module_from_spec(spec)
loader.exec_module(checker_module)


def load():
    documents = []
    for name in sorted(os.listdir(os.path.join(SOURCE, "deploy", "kubernetes"))):
        if name.endswith(".yaml"):
            with open(os.path.join(SOURCE, "deploy", "kubernetes", name)) as manifest:
                documents += [d for d in yaml.safe_load_all(manifest) if d]
    with open(os.path.join(SOURCE, "Containerfile")) as containerfile:
        containerfile_text = containerfile.read()
    with open(os.path.join(SOURCE, "deploy", "systemd", "quillow-serve.service")) as unit:
        unit_text = unit.read()
    return documents, containerfile_text, unit_text


def problems_of(documents, containerfile_text, unit_text):
    checker = checker_module.Checker(checker_module.read_version(SOURCE), "10001")
    checker.manifests(documents)
    checker.containerfile(containerfile_text)
    checker.unit(unit_text)
    return checker.problems


def kind(documents, name):
    return next(d for d in documents if d["kind"] == name)


def pod(documents):
    return kind(documents, "Deployment")["spec"]["template"]["spec"]


def server(documents):
    return pod(documents)["containers"][0]


def set_args(documents, change):
    container = server(documents)
    container["args"] = change(list(container["args"]))


def replace_flag(name, value):
    def change(arguments):
        return [a for a in arguments if not a.startswith(name)] + ([name + "=" + value] if value else [])
    return change


# (what is wrong, how to make it so, a word of the expected complaint)
MANIFEST_FAULTS = [
    ("no seccomp profile anywhere",
     lambda d: (pod(d)["securityContext"].pop("seccompProfile"), server(d)["securityContext"].pop("seccompProfile")),
     "seccompProfile"),
    ("an Unconfined seccomp profile", lambda d: server(d)["securityContext"].update(
        seccompProfile={"type": "Unconfined"}), "Unconfined"),
    ("privilege escalation allowed", lambda d: server(d)["securityContext"].pop("allowPrivilegeEscalation"),
     "allowPrivilegeEscalation"),
    ("runs as root", lambda d: pod(d)["securityContext"].update(runAsUser=0), "runAsUser is 0"),
    ("runAsNonRoot missing", lambda d: (pod(d)["securityContext"].pop("runAsNonRoot"),
                                        server(d)["securityContext"].pop("runAsNonRoot")), "runAsNonRoot"),
    ("a capability added", lambda d: server(d)["securityContext"]["capabilities"].update(add=["SYS_ADMIN"]),
     "SYS_ADMIN"),
    ("capabilities kept", lambda d: server(d)["securityContext"].pop("capabilities"), "drop ALL"),
    ("writable root", lambda d: server(d)["securityContext"].update(readOnlyRootFilesystem=False), "writable"),
    ("privileged", lambda d: server(d)["securityContext"].update(privileged=True), "privileged"),
    ("host network", lambda d: pod(d).update(hostNetwork=True), "hostNetwork"),
    ("a hostPath volume", lambda d: pod(d)["volumes"].append({"name": "host", "hostPath": {"path": "/"}}),
     "hostPath"),
    ("a host port", lambda d: server(d)["ports"][0].update(hostPort=8080), "hostPort"),
    ("an init container that may escalate", lambda d: pod(d).update(initContainers=[
        {"name": "init", "image": "busybox:1", "securityContext": {
            "capabilities": {"drop": ["ALL"]}}}]), "allowPrivilegeEscalation"),
    ("the image at :latest", lambda d: server(d).update(image="quillow-serve:latest"), "not tagged"),
    ("an image without a tag", lambda d: server(d).update(image="registry.example/quillow-serve"), "not tagged"),
    ("no PodDisruptionBudget", lambda d: d.remove(kind(d, "PodDisruptionBudget")), "PodDisruptionBudget"),
    ("a budget that keeps every replica",
     lambda d: kind(d, "PodDisruptionBudget")["spec"].update(minAvailable=2), "no node could be drained"),
    ("no preStop wait", lambda d: server(d).pop("lifecycle"), "preStop"),
    ("a preStop wait longer than the drain delay",
     lambda d: server(d)["lifecycle"]["preStop"]["exec"].update(command=["/bin/sleep", "15"]), "drain delay"),
    ("a grace period the drain outlasts", lambda d: pod(d).update(terminationGracePeriodSeconds=25),
     "terminationGracePeriodSeconds"),
    ("a longer drain deadline, same grace", lambda d: set_args(d, replace_flag("--drain-deadline", "60")),
     "terminationGracePeriodSeconds"),
    ("readiness too slow for the drain delay",
     lambda d: server(d)["readinessProbe"].update(periodSeconds=10, failureThreshold=3), "readiness"),
    ("neither --public nor a token", lambda d: set_args(d, replace_flag("--token-file", None)), "exactly one"),
    ("both --public and a token", lambda d: set_args(d, lambda a: a + ["--public"]), "exactly one"),
    ("a token file outside the Secret", lambda d: set_args(d, replace_flag("--token-file", "/etc/token")),
     "not in a mounted Secret"),
    ("more workers than the memory holds", lambda d: set_args(d, replace_flag("--workers", "4")),
     "over the memory limit"),
    ("a smaller memory limit", lambda d: server(d)["resources"]["limits"].update(memory="640Mi"),
     "over the memory limit"),
    ("/tmp in memory on top of the renders", lambda d: pod(d)["volumes"][0]["emptyDir"].update(medium="Memory", sizeLimit="512Mi"),
     "memory-backed"),
    ("a memory request below the limit", lambda d: server(d)["resources"]["requests"].update(memory="512Mi"),
     "request is not the limit"),
    ("fewer cores than workers", lambda d: server(d)["resources"]["requests"].update(cpu="1"), "CPU request"),
]

TEXT_FAULTS = [
    ("Containerfile", "shell-form entrypoint",
     lambda t: re.sub(r"^ENTRYPOINT .*$", "ENTRYPOINT /usr/bin/quillow-serve --listen 0.0.0.0:8080", t, flags=re.M),
     "exec form"),
    ("Containerfile", "runs as root", lambda t: re.sub(r"^USER .*$", "USER root", t, flags=re.M), "root"),
    ("Containerfile", "says nothing of exposure", lambda t: re.sub(r"^CMD .*$", "", t, flags=re.M),
     "neither --public nor --token-file"),
    ("unit", "restarts only on failure", lambda t: t.replace("Restart=always", "Restart=on-failure"), "Restart"),
    ("unit", "reads a root-only token directly",
     lambda t: t.replace("--token-file %d/token", "--token-file /etc/quillow/token"), "LoadCredential"),
]


def main():
    failures = []
    documents, containerfile_text, unit_text = load()
    clean = problems_of(documents, containerfile_text, unit_text)
    if clean:
        failures.append("the files as they are: %s" % clean)
    for name, fault, word in MANIFEST_FAULTS:
        changed = copy.deepcopy(documents)
        fault(changed)
        found = problems_of(changed, containerfile_text, unit_text)
        if not any(word in problem for problem in found):
            failures.append("%s: not named (found %s)" % (name, found))
    for which, name, fault, word in TEXT_FAULTS:
        texts = {"Containerfile": containerfile_text, "unit": unit_text}
        texts[which] = fault(texts[which])
        if texts[which] == {"Containerfile": containerfile_text, "unit": unit_text}[which]:
            failures.append("%s: the fault was not made (the file changed?)" % name)
            continue
        found = problems_of(documents, texts["Containerfile"], texts["unit"])
        if not any(word in problem for problem in found):
            failures.append("%s: not named (found %s)" % (name, found))
    for failure in failures:
        print("FAIL:", failure)
    print("%d faults checked, %d failure(s)" % (len(MANIFEST_FAULTS) + len(TEXT_FAULTS), len(failures)))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
