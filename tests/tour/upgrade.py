#!/usr/bin/env python3
"""The upgrade kit of the demo universe, end to end: `demo/start --upgrade` offscreen, the
offer accepted by tests/tour/upgrade.script; the upgrade program must download the kit,
install it into the program directory once tessel has ended, and start tessel again, which
is then offered nothing.

    tests/tour/upgrade.py <build-dir> [out-dir]
"""
import os
import re
import sys

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
    code, log = tour.run(build, out, "upgrade.script", ["--upgrade"], 30000)
    home = os.path.join(out, "home")
    number = re.search(r"^TESSEL_BUILD_NUMBER:\w+=(\d+)$", read(os.path.join(build, "CMakeCache.txt")), re.M)
    build_number = int(number.group(1)) if number else -1
    served = read(os.path.join(home, "objects.log"))
    installed = read(os.path.join(home, "upgraded.txt"))
    # The log is the started-again program's: it logged in and was offered nothing.
    # The first run's part of the output, up to the install.
    first = read(os.path.join(out, "tessel.out")).partition("demo: the upgrade kit was installed")[0]
    checks = [
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
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
