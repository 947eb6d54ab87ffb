#!/usr/bin/env python3
"""The demo starts the same way every time: demo/start run twice in one program directory,
offscreen and driven by tests/tour/fresh.script. Each run must show the same telegrams, the
About box's picture of the demo world, and the walker walking again once the user has been
to the garden and come back; the terminal shows the demo's own lines, not the web engine's
start-up report.

    tests/tour/fresh.py <build-dir> [out-dir]
"""
import os
import re
import shutil
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, here)
import tour  # noqa: E402

# Where the telegram list stands in the window, and the About box's picture frame.
LIST = (4, 188, 160, 368)
FRAME = (292, 110, 660, 240)
# What the web engine and the platform say at every start.
CHATTER = re.compile(r"qt\.webengine|No suitable graphics backend|does not support setParent|"
                     r"GL Type:|Init Parameters:|Sandboxing disabled")


def one_run(build, out, home):
    code, log = tour.run(build, out, "fresh.script", exit_after_ms=60000, limit_s=120, home=home)
    terminal = tour.lines_of(os.path.join(out, "tessel.out"))
    return code, log, terminal


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "default"))
    out = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(build, "fresh-tour"))
    home = os.path.join(out, "home")
    shutil.rmtree(out, ignore_errors=True)
    results = []
    listed = []
    for n in (1, 2):
        run_out = os.path.join(out, "run%d" % n)
        code, log, terminal = one_run(build, run_out, home)
        t = tour.Tour(run_out, log)
        tg, about, garden, back = (t.picture(name) for name in ("telegrams", "about", "garden", "back"))
        listed.append(tg.share(LIST, tour.dark) if tg else 0.0)
        # The walker's poses once the user is back from the garden.
        gone = t.logged(r"universe_lookup_world \(garden\)")
        again = t.logged(r"(get_address|universe_lookup_world) \(demo\)", gone if gone >= 0 else None)
        poses = {m.group(1) for m in (re.search(r"avatar: joints walker ([0-9a-f]+)", l)
                                      for l in (log[again:] if again >= 0 and gone >= 0 else [])) if m}
        chatter = [l for l in terminal if CHATTER.search(l)]
        checks = [
            ("demo/start ended well", code == 0),
            ("the telegram list names someone", listed[-1] > 0.002),
            ("the About box shows a picture in its frame", about and about.colours(FRAME) >= 12),
            ("the picture is not the box's plain ground", about and about.background_share(FRAME) < 0.7),
            ("the user went to the garden and back to the demo world", gone >= 0 and again >= 0),
            ("the walker walks again there", len(poses) >= 2),
            ("the terminal told where the run is", any(l.startswith("demo: starting ") for l in terminal)),
            ("and where the screenshot is", any(l.startswith("demo: screenshot saved to ") for l in terminal)),
            ("the web engine's start-up report stays off the terminal", not chatter),
            ("it went to the trace log", any(re.search(r"qt \(qt\.webenginecontext\)", l) for l in log)),
        ]
        if n == 2:
            checks.append(("the second run lists as many telegrams as the first",
                           abs(listed[1] - listed[0]) <= 0.25 * listed[0]))
        for what, ok in checks:
            print("fresh: run %d: %s: %s" % (n, what, "yes" if ok else "NO"))
        if chatter:
            print("fresh: run %d: on the terminal: %s" % (n, chatter[:4]))
        results += [ok for _, ok in checks]
    failed = sum(1 for ok in results if not ok)
    print("%d passed, %d failed (pictures in %s)" % (len(results) - failed, failed, out))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
