#!/usr/bin/env python3
"""The upgrade kit of the demo universe, end to end: `demo/start --upgrade` offscreen, the
offer accepted by tests/tour/upgrade.script; the upgrade program must download the kit,
install it into the program directory once tessel has ended, and start tessel again, which
is then offered nothing. Another tessel of the same build runs beside it all the while, as a
demo left open would: the installation's own copy of the program is the one upgraded.

    tests/tour/upgrade.py <build-dir> [out-dir]
"""
import os
import re
import subprocess
import sys
import tempfile

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, here)
import tour  # noqa: E402


def read(path):
    try:
        with open(path, encoding="latin-1") as f:
            return f.read()
    except OSError:
        return ""


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "default"))
    out = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(build, "upgrade-tour"))
    bystander_home = tempfile.mkdtemp(prefix="tessel_bystander_")
    with open(os.path.join(bystander_home, "tessel.ini"), "w") as f:
        f.write("[general]\n[show]\nweb=0\n[universe]\nhost=127.0.0.1\nport=1\n")
    env = dict(os.environ, TESSEL_HOME=bystander_home, QT_QPA_PLATFORM="offscreen",
               TESSEL_EXIT_AFTER_MS="300000", SDL_AUDIODRIVER="dummy")
    bystander = subprocess.Popen([os.path.join(build, "bin", "tessel")], cwd=bystander_home, env=env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    alive = []
    try:
        # Ended before the test's own time-out, so that its processes are ended too.
        code, log = tour.run(build, out, "upgrade.script", ["--upgrade"], 30000, limit_s=100,
                             stop_when=lambda: alive.append(bystander.poll() is None))
    finally:
        tour.end_all(bystander.pid)
    home = os.path.join(out, "home")
    number = re.search(r"^TESSEL_BUILD_NUMBER:\w+=(\d+)$", read(os.path.join(build, "CMakeCache.txt")), re.M)
    build_number = int(number.group(1)) if number else -1
    served = read(os.path.join(home, "objects.log"))
    installed = read(os.path.join(home, "upgraded.txt"))
    # The log is the started-again program's: it logged in and was offered nothing.
    # The first run's part of the output: each run takes its picture of the offer once.
    runs = read(os.path.join(out, "tessel.out")).split("tour: shot offer\n")
    first = runs[1] if len(runs) > 1 else ""
    checks = [
        ("another tessel of the build ran beside it all along", bool(alive) and all(alive)),
        ("demo/start ended well", code == 0),
        ("the offer's OK button was there to press", "tour: press 352" in first and "no button 352" not in first),
        ("the kit of build %d was downloaded" % build_number,
         re.search(r'"GET /upgrade/kit%d\.rtp HTTP/1\.[01]" 200' % build_number, served) is not None),
        ("the kit's file was installed in the program directory",
         "from build %d to build %d" % (build_number, build_number + 1) in installed),
        ("the program was started again and logged in", any("login_result" in l for l in log)),
        ("the program started again was offered nothing", not any("msg (445)" in l for l in log)),
    ]
    failed = [what for what, ok in checks if not ok]
    for what, ok in checks:
        print("upgrade: %s: %s" % (what, "yes" if ok else "NO"))
    if failed:
        print("upgrade: FAILED (output in %s)" % out)
        # A retry writes over the output: what the failing run showed goes with the verdict.
        print("upgrade: demo/start status %s; the end of its output:" % code)
        print("".join(read(os.path.join(out, "tessel.out")).splitlines(True)[-30:]), end="")
        print("upgrade: the log's upgrade and login lines:")
        for l in log:
            if re.search(r"login_result|msg \(445\)|upgrade|version_build", l):
                print("  " + l)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
