#!/usr/bin/env python3
"""What the terminal shows of a run of the demo with the web pane, offscreen: the demo's own
lines and tessel's, and none of the web engine's. The engine is asked to say much: its log at
every level, from the program's own process and from the processes it starts, and a plain
line of those processes' script engine about a flag it does not know. Its lines must be in
the trace log instead. The run teleports to "vault", whose refusal tessel tells in a box, so
that one of tessel's own lines is there to be seen.

    tests/web/terminal.py <build-dir> [out-dir]
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))

WAIT_S = 120  # the one cap for what the run is waited for; a passing run is much quicker
ENGINE = re.compile(r"^\[(\d+):\d+:[\d/.]+:[A-Z0-9]+:[^\]]+\(\d+\)\] ")
# The demo script's lines and tessel's: its boxes ("[caption] text") and its "tessel: " notes.
OURS = re.compile(r"^(demo: |tessel: |\[(Veldara|Error|Tessel)\] )")
VAULT = "[Veldara] The world vault is not available just now."
PLAIN = "web engine: Error: unrecognized flag --no-such-flag"


def read(path):
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def program_pid(parent):
    """The tessel process demo/start started, or None."""
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open("/proc/%s/comm" % entry) as f:
                name = f.read().strip()
        except OSError:
            continue
        if int(fields[1]) == parent and name == "tessel":
            return int(entry)
    return None


def wait_until(done, limit_s):
    end = time.monotonic() + limit_s
    while time.monotonic() < end:
        if done():
            return True
        time.sleep(0.1)
    return done()


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "default"))
    out = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(build, "web-terminal"))
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    home = os.path.join(out, "home")
    command = os.path.join(out, "vault.cmd")
    with open(command, "w") as f:
        f.write("teleport vault\n")
    env = dict(os.environ)
    env.update({
        "QT_QPA_PLATFORM": "offscreen",
        "DEMO_HOME": home,
        "QTWEBENGINE_CHROMIUM_FLAGS": "--disable-gpu --enable-logging=stderr --v=1 --js-flags=--no-such-flag",
        # The run ends when this test has seen what it waits for; this is only the cap.
        "TESSEL_EXIT_AFTER_MS": str(WAIT_S * 1000),
        "PYTHONDONTWRITEBYTECODE": "1",
    })
    stdout_path, stderr_path = os.path.join(out, "stdout.txt"), os.path.join(out, "stderr.txt")
    log_path = os.path.join(home, "tessel.log")
    with open(stdout_path, "w") as so, open(stderr_path, "w") as se:
        demo = subprocess.Popen(["bash", os.path.join(root, "demo", "start"), build, command],
                                stdout=so, stderr=se, stdin=subprocess.DEVNULL, env=env)
    pid = None

    def engine_pids():
        return {int(m.group(1)) for m in (ENGINE.match(l.split(": web engine: ", 1)[-1])
                                          for l in read(log_path).splitlines() if ": web engine: " in l) if m}

    def seen():
        nonlocal pid
        pid = pid or program_pid(demo.pid)
        pids = engine_pids()
        return (pid is not None and VAULT in read(stderr_path).splitlines() and pid in pids
                and any(p != pid for p in pids) and PLAIN in read(log_path))

    waited = wait_until(seen, WAIT_S)
    if pid:
        os.kill(pid, signal.SIGTERM)
    try:
        demo.wait(timeout=WAIT_S)
    except subprocess.TimeoutExpired:
        demo.kill()
        demo.wait()
    terminal = read(stdout_path).splitlines() + read(stderr_path).splitlines()
    log = read(log_path)
    pids = engine_pids()
    strangers = [l for l in terminal if l.strip() and not OURS.match(l)]
    checks = [
        ("the run got as far as it was waited for", waited),
        ("tessel's own line reached the terminal", VAULT in terminal),
        ("the engine's lines from the program's process are in the trace log", pid in pids),
        ("and those of the processes it started", any(p != pid for p in pids)),
        ("and their plain lines", PLAIN in log),
        ("the program ended in order", "tessel_shutdown" in log),
        ("the terminal shows no line that is not the demo's or tessel's", not strangers),
    ]
    for what, ok in checks:
        print("terminal: %s: %s" % (what, "yes" if ok else "NO"))
    for line in strangers[:10]:
        print("terminal: not ours: %s" % line)
    failed = sum(1 for _, ok in checks if not ok)
    print("%d passed, %d failed (the run in %s)" % (len(checks) - failed, failed, out))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
