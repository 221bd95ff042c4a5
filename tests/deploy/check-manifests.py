#!/usr/bin/env python3
"""Checks the Kubernetes manifests of deploy/: valid YAML, an Indexed Job whose shard count, completions
and parallelism agree, a browser sidecar on the pod's loopback, and a capture whose options the tool takes."""
import subprocess
import sys
import pathlib

import yaml

root, tool = pathlib.Path(sys.argv[1]), sys.argv[2]
failures = []


def check(condition, text):
    if not condition:
        failures.append(text)


files = sorted((root / "deploy" / "kubernetes").glob("*.yaml"))
check(files, "no manifests in deploy/kubernetes")
for path in files:
    documents = [d for d in yaml.safe_load_all(path.read_text()) if d is not None]
    kinds = [d.get("kind") for d in documents]
    check("Job" in kinds, f"{path.name}: no Job")
    for job in (d for d in documents if d.get("kind") == "Job"):
        settings = job["spec"]
        pod = settings["template"]["spec"]
        check(settings.get("completionMode") == "Indexed", f"{path.name}: the Job is not Indexed")
        check(settings["completions"] == settings["parallelism"], f"{path.name}: completions != parallelism")
        sidecars = [c for c in pod.get("initContainers", []) if c.get("restartPolicy") == "Always"]
        check(len(sidecars) == 1, f"{path.name}: no browser sidecar")
        for sidecar in sidecars:
            command = sidecar["command"]
            check("--remote-debugging-address=127.0.0.1" in command, f"{path.name}: DevTools not on loopback")
            check("--remote-debugging-port=9222" in command, f"{path.name}: DevTools port is not 9222")
        capture = pod["containers"][0]
        env = {e["name"]: e["value"] for e in capture.get("env", [])}
        check(env.get("SHARDS") == str(settings["completions"]), f"{path.name}: SHARDS != completions")
        script = capture["command"][-1]
        check("$JOB_COMPLETION_INDEX/$SHARDS" in script, f"{path.name}: the shard is not the pod's index")
        # The tool's own parser takes the options (with the index and count filled in, and --help so that
        # nothing runs).
        args = script.split("exec korvane-capture", 1)[1].replace('"', "")
        args = args.replace("$JOB_COMPLETION_INDEX", "0").replace("$SHARDS", env.get("SHARDS", "1")).split()
        args = [a for a in args if not a.startswith(("/urls", "/data"))]
        volumes = {v["name"] for v in pod.get("volumes", [])}
        for mount in capture.get("volumeMounts", []):
            check(mount["name"] in volumes, f"{path.name}: mount {mount['name']} has no volume")
        options = [a for a in args if a.startswith("-")]
        usage = subprocess.run([tool, "--help"], capture_output=True, text=True).stdout
        for option in options:
            check(option in usage, f"{path.name}: korvane-capture has no option {option}")

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)
