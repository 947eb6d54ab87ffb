#!/usr/bin/env python3
"""The tour: tessel offscreen against the demo universe (demo/start), driven by
tests/tour/tour.script, each checkpoint's picture checked by pixel predicates and the trace
log checked for what each module did.

    tests/tour/tour.py <build-dir> [out-dir]

Pictures are kept in <out-dir> (default <build-dir>/tour); a failing checkpoint names itself
and its picture.
"""
import os
import re
import shutil
import subprocess
import sys

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, here)
import png  # noqa: E402
import modules  # noqa: E402

# The window is 640x480 (demo/start's layout); the 3D view's part of it.
VIEW = (170, 70, 636, 314)
# A part of the view where only the sky (the world's background colour) shows all tour long.
OPEN_SKY = (200, 240, 450, 300)


class Picture:
    def __init__(self, path):
        self.path = path
        self.width, self.height, self.rows = png.read(path)

    def pixels(self, box):
        x0, y0, x1, y1 = box
        for y in range(max(0, y0), min(self.height, y1)):
            row = self.rows[y]
            for x in range(max(0, x0), min(self.width, x1)):
                yield row[x]

    def colours(self, box):
        return len(set(self.pixels(box)))

    def share(self, box, test):
        n = hit = 0
        for p in self.pixels(box):
            n += 1
            hit += 1 if test(p) else 0
        return hit / n if n else 0.0

    def background_share(self, box):
        """Share of the box in its most common colour."""
        counts = {}
        for p in self.pixels(box):
            counts[p] = counts.get(p, 0) + 1
        total = sum(counts.values())
        return max(counts.values()) / total if total else 1.0

    def differs(self, other, box, step=2):
        x0, y0, x1, y1 = box
        n = diff = 0
        for y in range(y0, y1, step):
            for x in range(x0, x1, step):
                a, b = self.rows[y][x], other.rows[y][x]
                n += 1
                if sum(abs(a[i] - b[i]) for i in range(3)) > 30:
                    diff += 1
        return diff / n if n else 0.0

    def at(self, x, y):
        return self.rows[y][x]


def coloured(p):
    return max(p) - min(p) > 40


def light(p):
    return min(p) > 200


def bluish(p):
    return p[2] > 120 and p[0] < 60 and p[1] < 60


def dark(p):
    return max(p) < 110


class Tour:
    def __init__(self, out, log):
        self.out = out
        self.log = log
        self.pictures = {}
        self.results = []

    def picture(self, name):
        if name not in self.pictures:
            path = os.path.join(self.out, name + ".png")
            self.pictures[name] = Picture(path) if os.path.exists(path) else None
        return self.pictures[name]

    def logged(self, pattern, after=None):
        """Index of the first trace line matching pattern (after the given index), or -1."""
        start = 0 if after is None else after + 1
        rx = re.compile(pattern)
        for i in range(start, len(self.log)):
            if rx.search(self.log[i]):
                return i
        return -1

    def check(self, name, shot, checks):
        """checks: (what, callable returning a true value when it holds)."""
        checks = list(checks) + modules.checks(self, name)
        failed = []
        if self.picture(shot) is None:
            failed.append("no picture %s.png was saved" % shot)
        else:
            for what, test in checks:
                try:
                    ok = test()
                except Exception as e:  # a predicate that cannot be read fails
                    ok, what = False, "%s (%s)" % (what, e)
                if not ok:
                    failed.append(what)
        path = os.path.join(self.out, shot + ".png")
        if failed:
            print("tour: checkpoint %s FAILED (picture kept: %s)" % (name, path))
            for f in failed:
                print("  - %s" % f)
        else:
            print("tour: checkpoint %s passed" % name)
        self.results.append((name, not failed))


def run(build, out):
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    # The command file a second start of the program hands to the running one.
    with open(os.path.join(out, "handoff.txt"), "w") as f:
        f.write("teleport garden 0.3s 0.1e, from a second start\n")
    home = os.path.join(out, "home")
    env = dict(os.environ)
    env.update({"DEMO_HOME": home, "TESSEL_TOUR": os.path.join(here, "tour.script"),
                "TESSEL_TOUR_DIR": out, "QT_QPA_PLATFORM": "offscreen",
                "TESSEL_SCREENSHOT": os.path.join(out, "last.png"),
                # A tour that stalls still ends.
                "TESSEL_EXIT_AFTER_MS": "120000", "SDL_AUDIODRIVER": "dummy"})
    with open(os.path.join(out, "tessel.out"), "w") as o:
        p = subprocess.run(["bash", os.path.join(root, "demo", "start"), build],
                           stdout=o, stderr=subprocess.STDOUT, env=env, timeout=180)
    log_path = os.path.join(home, "tessel.log")
    log = []
    if os.path.exists(log_path):
        with open(log_path, encoding="latin-1") as f:
            log = f.read().splitlines()
    return p.returncode, log


def tour(out, log):
    t = Tour(out, log)
    e, a, b, w = (t.picture(n) for n in ("entered", "activated", "back", "walked"))
    entered_at = t.logged(r"^\d+: world_enter")
    t.check("world entered, objects drawn", "entered", [
        ("the login reached the world", lambda: t.logged(r"login_result") >= 0 and entered_at >= 0),
        ("the 3D start ran", lambda: t.logged(r"tessel_start_3d") >= 0),
        ("objects were fetched from the object server", lambda: t.logged(r"http_get") >= 0),
        ("the 3D view is more than its background", lambda: e.background_share(VIEW) < 0.9),
        ("the 3D view has many colours", lambda: e.colours(VIEW) >= 40),
    ])
    t.check("render showcase rows drawn", "entered", [
        ("the panel rows are textured", lambda: e.colours((270, 150, 500, 215)) >= 40),
        ("the panel rows cover their place",
         lambda: e.share((275, 165, 490, 210), lambda p: not bluish(p)) > 0.4),
        ("textures were downloaded", lambda: t.logged(r"texture_download") >= 0),
    ])
    k0 = t.picture("walking")
    t.check("another user walks, posed by their sequence", "walking", [
        ("the walker's VRML avatar and its walk were fetched",
         lambda: t.logged(r"walker\.wrl") >= 0 and t.logged(r"download_file \(seqs, walk\.zip\)") >= 0),
        ("with no input the view changed", lambda: k0.differs(e, VIEW, 1) > 0.002),
        ("only a part of it changed", lambda: k0.differs(e, VIEW, 1) < 0.2),
    ])
    t.check("toolbar shown, back greyed before any move", "entered", [
        ("the toolbar's buttons are drawn", lambda: e.share((0, 20, 330, 42), coloured) > 0.01),
        ("the back button is grey", lambda: not coloured(e.at(19, 31))),
    ])
    t.check("status bar shown", "entered", [
        ("the status bar's frame is drawn",
         lambda: e.share((0, 458, 640, 480), lambda p: max(p) < 200) > 0.01),
        ("the status bar was set", lambda: t.logged(r"status_change") >= 0),
    ])
    act = t.logged(r"behavior_trigger \(activate\)")
    moved = t.logged(r"teleport \(<null>, [0-9.]+, [0-9.]+, 30\.00", act if act >= 0 else None)
    t.check("a click on an activate object teleports", "activated", [
        ("the click ran the object's activate action", lambda: act >= 0),
        ("the action teleported 30 m north", lambda: moved >= 0),
        ("the view changed", lambda: a.differs(e, VIEW) > 0.05),
        ("the back button is enabled", lambda: coloured(a.at(19, 31))),
    ])
    back = t.logged(r"teleport \(demo, 0\.00, 0\.00, 0\.00", moved if moved >= 0 else None)
    t.check("the toolbar's back button returns", "back", [
        ("the back button teleported to the start", lambda: moved >= 0 and back >= 0),
        ("the view is the start's again", lambda: b.differs(e, VIEW) < a.differs(e, VIEW)),
        ("the forward button is enabled", lambda: coloured(b.at(41, 31))),
    ])
    t.check("the arrow key walks", "walked", [
        ("the view moved on", lambda: w.differs(b, VIEW) > 0.05),
    ])
    tabs, worlds = t.picture("tabs"), t.picture("worlds")
    t.check("the worlds tab lists the universe's worlds", "worlds", [
        ("the world list was asked for", lambda: t.logged(r"worlds_init") >= 0),
        ("the list was empty before the tab was chosen",
         lambda: tabs.share((4, 100, 160, 300), dark) < 0.002),
        ("the worlds tab lists names", lambda: worlds.share((4, 100, 160, 300), dark) > 0.002),
    ])
    k = t.picture("contacts")
    t.check("the contacts tab shows the guide", "contacts", [
        ("the contact list names someone", lambda: k.share((4, 115, 100, 135), dark) > 0.01),
        ("the rest of the list is empty", lambda: k.share((4, 140, 160, 300), dark) < 0.002),
    ])
    got = t.logged(r"telegram_receive \(\d+, guide\)")
    t.check("telegrams from the universe arrive", "contacts", [
        ("the waiting telegram was fetched", lambda: t.logged(r"universe_get_telegram") >= 0 and got >= 0),
        ("the new telegram was announced", lambda: t.logged(r"msg \(61\)", got if got >= 0 else None) >= 0),
    ])
    g = t.picture("garden")
    sunset = lambda p: p[0] > 170 and 70 < p[1] < 160 and p[2] < 110
    t.check("the garden world has its own colours", "garden", [
        ("a second world was looked up", lambda: t.logged(r"universe_lookup_world \(garden\)") >= 0),
        ("the garden's sky is its sunset colour", lambda: g.share(VIEW, sunset) > 0.4),
        ("the demo world's sky was not", lambda: e.share(VIEW, sunset) < 0.01),
        ("the garden's trees are drawn", lambda: g.share(VIEW, lambda p: p[1] > p[0] + 20) > 0.05),
    ])
    v = t.picture("vault")
    t.check("the vault refuses entry", "vault", [
        ("the vault was looked up", lambda: t.logged(r"universe_lookup_world \(vault\)") >= 0),
        ("the refusal was told (message 89)",
         lambda: t.logged(r"msg \(89\)", t.logged(r"universe_lookup_world \(vault\)")) >= 0),
        ("the user stays in the garden", lambda: v.share(VIEW, sunset) > 0.4),
    ])
    s, c = t.picture("settings"), t.picture("closed")
    t.check("the settings sheet opens", "settings", [
        ("the property sheet ran", lambda: t.logged(r"psheet") >= 0),
        ("the sheet covers the 3D view", lambda: s.share(OPEN_SKY, light) > 0.5),
        ("the view was not light there before", lambda: g.share(OPEN_SKY, light) < 0.1),
    ])
    t.check("the settings sheet closes", "closed", [
        ("the 3D view shows again", lambda: c.share(OPEN_SKY, light) < 0.1),
    ])
    modules_tour(t)
    return t.results


# The rest of the modules, each at work in its own checkpoint (tests/tour/modules.py lists
# what the trace log must show in each).
CONSOLE = (168, 322, 580, 440)
STATUS = (0, 462, 960, 480)
ROCK = (360, 205, 388, 240)  # left of the glowing stone
GLOW = (394, 226, 432, 256)


def modules_tour(t):
    c = t.picture("closed")
    reddish = lambda p: p[0] > 150 and p[1] < 90 and p[2] < 90
    greenish = lambda p: p[1] > 100 and p[0] < 90 and p[2] < 90
    t.check("the console's lines wear their colours", "closed", [
        ("a line in red", lambda: c.share(CONSOLE, reddish) > 0.002),
        ("lines in green", lambda: c.share(CONSOLE, greenish) > 0.004),
    ])
    m = t.picture("meters")
    t.check("the meters and the clock show in the status bar", "meters", [
        ("the status bar has more text than before", lambda: m.share(STATUS, dark) > c.share(STATUS, dark) + 0.005),
    ])
    g1, g2 = t.picture("glow"), t.picture("glow2")
    greenish_face = lambda p: p[1] > p[0] + 10 and p[1] > p[2] + 10
    t.check("the garden's stone runs its animation", "glow2", [
        ("the stone's face changed between the pictures", lambda: g2.differs(g1, GLOW, 1) > 0.8),
        ("one of its images is the green one",
         lambda: max(g1.share(GLOW, greenish_face), g2.share(GLOW, greenish_face)) > 0.8),
    ])
    p, r = t.picture("picked"), t.picture("released")
    t.check("a right click selects an object and shows its properties", "picked", [
        ("the properties cover the middle of the view", lambda: p.share((300, 180, 590, 300), light) > 0.3),
        ("the view was not light there before", lambda: c.share((300, 180, 590, 300), light) < 0.1),
    ])
    t.check("the builder moves and turns the object", "released", [
        ("the dialog went with the selection", lambda: r.share((300, 180, 590, 300), light) < 0.1),
        ("the rock stands otherwise", lambda: r.differs(c, ROCK, 1) > 0.1),
        ("it stood still until then", lambda: t.picture("meters").differs(c, ROCK, 1) < 0.02),
    ])
    for name, shot in (("the world features dialog opens", "features"), ("the universe dialog opens", "universe"),
                       ("the citizen's attributes dialog opens", "citizen"),
                       ("the privilege dialog opens", "privilege"), ("the sign-up dialog opens", "signup"),
                       ("the remembered teleports dialog opens", "teleports"),
                       ("the download window opens", "downloads"), ("the about box opens", "about")):
        d = t.picture(shot)
        t.check(name, shot, [("a window covers part of the view", lambda d=d: d.differs(r, VIEW) > 0.03)])
    e = t.picture("end")
    t.check("the dialogs are gone again", "end", [
        ("the view shows no window", lambda: e.share(OPEN_SKY, light) < 0.1),
    ])
    h = t.picture("handoff")
    t.check("a second start hands its command file over", "handoff", [
        ("the view stepped back", lambda: h.differs(e, VIEW) > 0.02),
        ("the garden's objects still show", lambda: h.background_share(VIEW) < 0.97),
    ])
    j = t.picture("joined")
    t.check("the contacts' menu asks to join the guide", "joined", [
        ("the answer was told in the console",
         lambda: j.share(CONSOLE, coloured) > h.share(CONSOLE, coloured) + 0.002),
    ])
    t.check("the program shuts down", "joined", [])


def main():
    build = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "build", "default"))
    out = os.path.abspath(sys.argv[2] if len(sys.argv) > 2 else os.path.join(build, "tour"))
    code, log = run(build, out)
    results = tour(out, log)
    passed = sum(1 for _, ok in results if ok)
    failed = len(results) - passed
    if code != 0:
        print("tour: tessel ended with status %d (output in %s)" % (code, os.path.join(out, "tessel.out")))
        failed += 1
    print("%d passed, %d failed" % (passed, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
