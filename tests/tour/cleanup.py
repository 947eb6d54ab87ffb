#!/usr/bin/env python3
"""A tour stopped part-way leaves nothing of its own running: the upgrade leg is stopped
while the upgrade program runs (started by tessel in a session of its own) and the web pane's
helpers may still be up; afterwards no process may carry the run's marker.

    tests/tour/cleanup.py <build-dir> [out-dir]
"""
import os
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, here)
import tour  # noqa: E402
import upgrade  # noqa: E402


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "default"))
    out = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(build, "cleanup-tour"))
    served = os.path.join(out, "home", "objects.log")
    # The upgrade program has asked for its kit: it is running, and tessel is about to quit.
    code, _ = tour.run(build, out, "upgrade.script", ["--upgrade"], 30000, limit_s=90,
                       stop_when=lambda: "GET /upgrade/kit" in upgrade.read(served))
    left = tour.leftovers(out)
    checks = [
        ("the run was stopped while the upgrade program ran", code == -2),
        ("nothing of the run is left running", not left),
    ]
    for what, ok in checks:
        print("cleanup: %s: %s" % (what, "yes" if ok else "NO (%s)" % left if left else "NO"))
    failed = sum(1 for _, ok in checks if not ok)
    print("%d passed, %d failed" % (len(checks) - failed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
