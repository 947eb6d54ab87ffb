#!/usr/bin/env python3
"""The tour: tessel_tour (tessel with the script runner) offscreen against the demo universe
(demo/start), driven by tests/tour/tour.script, each checkpoint's picture checked by pixel
predicates and the trace log checked for what each module did.

    tests/tour/tour.py <build-dir> [out-dir]

Pictures are kept in <out-dir> (default <build-dir>/tour); a failing checkpoint names itself
and its picture.
"""
import ctypes
import os
import re
import shutil
import signal
import subprocess
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
root = os.path.dirname(os.path.dirname(here))
sys.path.insert(0, here)
import png  # noqa: E402
import modules  # noqa: E402

# The window is 960x480 (demo/start's layout, the web pane on its right); the 3D view's part of it.
VIEW = (170, 70, 598, 314)
# A part of the view where only the sky and the ground show all tour long (nothing light).
OPEN_SKY = (200, 240, 450, 300)
# The upper part of the view, over the ground: the world's sky where no object stands.
SKY = (170, 70, 598, 180)
# The ways the user faces in third person (degrees, 0 north, 90 west), and where their own
# avatar then stands in the view, seen from behind.
FACING, BEHIND = (0, 90, 180, 270), (320, 70, 440, 250)
# The lower part of the view at the start, below the objects: the world's ground.
GROUND = (170, 245, 598, 313)


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


def grassy(p):
    return p[1] > p[0] + 15 and p[1] > p[2] + 15


def dark(p):
    return max(p) < 110


def hue(channel):
    """A pixel a person calls red (0) or blue (2), not black: that channel well above the dark
    end and at least twice each of the others."""
    return lambda p: p[channel] >= 48 and all(p[channel] >= 2 * p[k] for k in range(3) if k != channel)


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


def adopt_orphans():
    """Processes of the run whose parent ends (the upgrade program, started in a session of
    its own by tessel, which then quits; the web pane's helpers) come to this process rather
    than to init, so that they can still be found and ended."""
    try:
        ctypes.CDLL(None, use_errno=True).prctl(36, 1, 0, 0, 0)  # PR_SET_CHILD_SUBREAPER
    except (OSError, AttributeError):
        pass


def children_of(pids):
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                fields = f.read().rpartition(")")[2].split()
        except OSError:
            continue
        if len(fields) > 1 and int(fields[1]) in pids:
            found.append(int(name))
    return found


def descendants(pid):
    every, level = [], [pid]
    while level:
        level = children_of(set(level))
        every += level
    return every


def end_all(group):
    """Ends the run's process group and every process of the run that left it."""
    for _ in range(200):
        try:
            os.killpg(group, signal.SIGKILL)
        except OSError:
            pass
        for pid in descendants(os.getpid()):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        try:  # the ended processes that were adopted are reaped here
            while os.waitpid(-1, os.WNOHANG)[0]:
                pass
        except ChildProcessError:
            pass
        if not descendants(os.getpid()):
            return
        time.sleep(0.05)


def leftovers(out):
    """Processes that still carry this run's marker in their environment."""
    marker = ("TESSEL_TOUR_DIR=%s" % out).encode()
    found = []
    for name in os.listdir("/proc"):
        if not name.isdigit() or int(name) == os.getpid():
            continue
        try:
            with open("/proc/%s/environ" % name, "rb") as f:
                if marker in f.read().split(b"\0"):
                    found.append(int(name))
        except OSError:
            pass
    return found


def run(build, out, script="tour.script", options=(), exit_after_ms=150000, limit_s=180, stop_when=None,
        home=None):
    """demo/start with the options, driven by the script; its status and the trace log. The
    run's programs form a process group of their own, ended when demo/start ends, when
    limit_s have passed (status -1) or when stop_when() holds (status -2). The program
    directory is <out>/home, made afresh, unless another (left as it is) is named."""
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    # The command file a second start of the program hands to the running one.
    with open(os.path.join(out, "handoff.txt"), "w") as f:
        f.write("teleport garden 0.3s 0.1e, from a second start\n")
    # And those that turn the user where they stand, in third person, to each side.
    for yaw in FACING:
        with open(os.path.join(out, "face%d.txt" % yaw), "w") as f:
            f.write("teleport 0.5s 0.5e %d\n" % yaw)
    home = home or os.path.join(out, "home")
    env = dict(os.environ)
    env.pop("DEMO_UPGRADE", None)
    # The tour also reads the lines every frame writes (the tasks at work).
    env.update({"DEMO_HOME": home, "DEMO_TRACE": "tasks", "TESSEL_TOUR": os.path.join(here, script),
                "TESSEL_TOUR_DIR": out, "QT_QPA_PLATFORM": "offscreen",
                "TESSEL_SCREENSHOT": os.path.join(out, "last.png"),
                # A tour that stalls still ends.
                "TESSEL_EXIT_AFTER_MS": str(exit_after_ms), "SDL_AUDIODRIVER": "dummy"})
    adopt_orphans()
    with open(os.path.join(out, "tessel.out"), "w") as o:
        p = subprocess.Popen(["bash", os.path.join(root, "demo", "start"), build] + list(options),
                             stdout=o, stderr=subprocess.STDOUT, env=env, start_new_session=True)
        try:
            deadline = time.monotonic() + limit_s
            code = None
            while code is None:
                code = p.poll()
                if code is None and time.monotonic() > deadline:
                    print("tour: demo/start did not end within %d s" % limit_s)
                    code = -1
                elif code is None and stop_when and stop_when():
                    code = -2
                elif code is None:
                    time.sleep(0.1)
        finally:
            end_all(p.pid)
    log_path = os.path.join(home, "tessel.log")
    log = []
    if os.path.exists(log_path):
        with open(log_path, encoding="latin-1") as f:
            log = f.read().splitlines()
    return code, log


def lines_of(path):
    try:
        with open(path, encoding="latin-1") as f:
            return f.read().splitlines()
    except OSError:
        return []


def village(t, out, vault):
    """The old-protocol world: its objects over the old object protocol, its peer hub's
    wanderer walking, greeting and waving over the datagram channel."""
    vi, wa = t.picture("village"), t.picture("wandered")
    home = os.path.join(out, "home")
    hub = lines_of(os.path.join(home, "hub.out"))
    chat = lines_of(os.path.join(home, "chat.txt"))
    night = lambda p: max(p) < 90 and p[2] >= p[0]
    scene = (170, 70, 596, 314)  # the view without the web pane's edge
    looked = t.logged(r"universe_lookup_world \(village\)")
    after = looked if looked >= 0 else None
    t.check("an old-protocol world entered", "village", [
        ("the village was looked up", lambda: looked >= 0),
        ("its server answered the login with the old protocol", lambda: t.logged(r"prop_set_old :1", after) >= 0),
        ("its objects came over the old object protocol", lambda: t.logged(r"cell_element_add_old", after) >= 0),
        ("its night sky shows", lambda: vi.share(VIEW, night) > 0.4),
        ("the view left the garden", lambda: vi.differs(vault, VIEW) > 0.3),
        ("its trees are drawn", lambda: vi.share(scene, lambda p: p[1] > p[0] + 10 and p[1] > p[2]) > 0.01),
    ])
    t.check("the peer hub's user walks", "wandered", [
        ("the client's state datagrams reached the hub", lambda: any(l.startswith("client ") for l in hub)),
        ("the hub's state list made the wanderer's avatar", lambda: t.logged(r"TZD_create done", after) >= 0),
        ("the wanderer's balloon is drawn", lambda: wa.share(scene, light) > 0.002),
        ("the wanderer moved between the two pictures", lambda: wa.differs(vi, VIEW, 1) > 0.002),
        ("only the wanderer moved", lambda: wa.differs(vi, VIEW, 1) < 0.2),
    ])
    t.check("the wanderer's chat line reaches the console", "wandered", [
        ("the speaker's name was checked with the universe", lambda: t.logged(r"universe_whos_at", after) >= 0),
        ("the line is on the console (its chat log)", lambda: any(l.startswith("wanderer: Hello") for l in chat)),
        ("the client acknowledged the line", lambda: any(l.startswith("acked wanderer ") for l in hub)),
    ])
    waved = t.logged(r"avatar: peer gesture 1", after)
    t.check("the wanderer waves", "wandered", [
        ("the hub's gesture went to the wanderer's animation", lambda: waved >= 0),
        ("and ended there again", lambda: t.logged(r"avatar: peer gesture 0", waved if waved >= 0 else None) >= 0),
        ("the gesture's sequence was fetched", lambda: t.logged(r"download_file \(seqs, wave\.zip\)") >= 0),
    ])


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
        ("the world's ground lies under the view", lambda: t.logged(r"ground\.zip") >= 0 and e.share(GROUND, grassy) > 0.8),
    ])
    t.check("render showcase rows drawn", "entered", [
        ("the panel rows are textured", lambda: e.colours((270, 150, 500, 215)) >= 40),
        ("the panel rows cover their place",
         lambda: e.share((275, 165, 490, 210), lambda p: not bluish(p)) > 0.4),
        ("textures were downloaded", lambda: t.logged(r"texture_download") >= 0),
    ])
    k0 = t.picture("walking")
    # The walker's poses, traced once a second, until the first teleport takes the user away.
    left = t.logged(r"behavior_trigger \(activate\)")
    poses = [m.group(1) for m in (re.search(r"avatar: joints walker ([0-9a-f]+)", l)
                                  for l in (t.log[:left] if left >= 0 else t.log)) if m]
    t.check("another user walks, posed by their sequence", "walking", [
        ("the walker's VRML avatar and its walk were fetched",
         lambda: t.logged(r"walker\.wrl") >= 0 and t.logged(r"download_file \(seqs, walk\.zip\)") >= 0),
        ("the walker's joints move from pose to pose", lambda: len(set(poses)) >= 2),
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
    moved = t.logged(r"teleport \(<null>, [0-9.]+, [0-9.]+, 1\.00", act if act >= 0 else None)
    t.check("a click on an activate object teleports", "activated", [
        ("the click ran the object's activate action", lambda: act >= 0),
        ("the action teleported 10 m north", lambda: moved >= 0),
        ("the view changed", lambda: a.differs(e, VIEW) > 0.05),
        ("it arrived in sight of the panels", lambda: a.share((275, 165, 490, 210), lambda p: not bluish(p)) > 0.4),
        ("the back button is enabled", lambda: coloured(a.at(19, 31))),
    ])
    back = t.logged(r"teleport \(demo, 0\.00, 0\.00, 0\.00", moved if moved >= 0 else None)
    t.check("the toolbar's back button returns", "back", [
        ("the back button teleported to the start", lambda: moved >= 0 and back >= 0),
        ("the view is the start's again", lambda: b.differs(e, VIEW) < a.differs(e, VIEW)),
        ("the forward button is enabled", lambda: coloured(b.at(41, 31))),
    ])
    o = t.picture("oldtree")
    to_tree = t.logged(r"teleport \(demo, -20\.00, [-0-9.]+, 10\.00", back if back >= 0 else None)
    t.check("the home page's link teleports to the old tree", "oldtree", [
        ("the person's click on the link teleported to 10N 20E", lambda: back >= 0 and to_tree >= 0),
        ("the old tree is in sight there", lambda: o.background_share(VIEW) < 0.97),
        ("the view is not the start's", lambda: o.differs(b, VIEW) > 0.05),
    ])
    t.check("the arrow key walks", "walked", [
        ("the view moved on", lambda: w.differs(b, VIEW) > 0.05),
    ])
    # From where the walk ends: the console, the chat line, the things hung over the panels
    # (the poster, the signboard, the bell, the glowing block) and the web pane.
    chat, typing, typed = t.picture("chat"), t.picture("typing"), t.picture("typed")
    console, chat_line, pane = (170, 323, 582, 436), (170, 444, 240, 458), (610, 230, 950, 450)
    welcome = lambda p: p[1] > p[0] + 60 and p[1] > p[2] + 60  # the world's notices are green
    balloon = lambda p: min(p) > 230  # balloons are white text; nothing else in the view is white
    greeted = t.logged(r"world: reply 12,")
    t.check("the console shows the welcome and another user's chat", "chat", [
        ("the world's attributes arrived", lambda: t.logged(r"world: reply 1,") >= 0),
        ("the world's welcome is in the console", lambda: chat.share(console, welcome) > 0.003),
        ("another user's chat line arrived", lambda: greeted >= 0),
        ("its black text is in the console now", lambda: chat.share(console, dark) > 0.003),
        ("there was none before it arrived", lambda: e.share(console, dark) < 0.0005),
        ("a balloon shows over the view", lambda: chat.share(VIEW, balloon) > 0.0008),
        ("and did not before", lambda: e.share(VIEW, balloon) < 0.0001),
    ])
    said = t.logged(r"world_message", greeted if greeted >= 0 else None)
    echoed = t.logged(r"world: reply 12,", said if said >= 0 else None)
    world_out = os.path.join(t.out, "home", "world.out")
    heard = []
    if os.path.exists(world_out):
        with open(world_out, encoding="latin-1") as f:
            heard = [line for line in f if re.match(r"chat \d+ hello$", line.strip())]
    t.check("typed chat goes out, comes back and shows", "typed", [
        ("the typed word showed in the chat line", lambda: typing.share(chat_line, dark) > 0.02),
        ("Enter sent it and emptied the line",
         lambda: said >= 0 and typed.share(chat_line, dark) < 0.3 * typing.share(chat_line, dark)),
        ("the world server got it", lambda: len(heard) == 1),
        ("the echo came back", lambda: echoed >= 0),
        ("the own line and the echo are in the console",
         lambda: typed.share(console, dark) > 1.4 * chat.share(console, dark)),
        ("a balloon shows over the view", lambda: typed.share(VIEW, balloon) > 0.0008),
    ])
    maroon = lambda p: 100 < p[0] < 180 and p[1] < 70 and 70 < p[2] < 140
    yellow = lambda p: p[0] > 200 and p[1] > 200 and p[2] < 100
    t.check("the signboard shows its text", "chat", [
        ("the board is the sign's background colour", lambda: chat.share((325, 86, 440, 114), maroon) > 0.3),
        ("the text is drawn on it", lambda: chat.share((325, 86, 440, 114), yellow) > 0.03),
    ])
    magenta = lambda p: p[0] > 170 and p[1] < 100 and p[2] > 140
    field = lambda p: p[0] > 200 and p[1] > 180 and p[2] < 110
    poster_at = t.logged(r"picture_create \(/pictures/poster\.jpg\)")
    t.check("the poster shows its picture", "chat", [
        ("the poster's action asked for the picture", lambda: poster_at >= 0),
        ("the picture was downloaded",
         lambda: t.logged(r"http_get \(.*/demo/pictures/poster\.jpg\)", poster_at if poster_at >= 0 else None) >= 0),
        ("it was kept in the cache", lambda: t.logged(r"chunk_save_texture_to_file \(.*poster\.tzb\)") >= 0),
        ("its first colour shows", lambda: chat.share((242, 84, 290, 99), magenta) > 0.15),
        ("its second colour shows", lambda: chat.share((242, 84, 290, 99), field) > 0.15),
    ])
    rang = t.picture("rang")
    bell_click = t.logged(r"viewport_click", echoed if echoed >= 0 else None)
    activated = t.logged(r"behavior_trigger \(activate\)", bell_click if bell_click >= 0 else None)
    effect = t.logged(r"sound_effect \(chime\)", activated if activated >= 0 else None)
    opened = t.logged(r'mciSendString: open ".*/sounds/chime" alias effect', effect if effect >= 0 else None)
    played = t.logged(r"mciSendString: play effect notify", opened if opened >= 0 else None)
    failed = t.logged(r"mciSendString FAILED", opened if opened >= 0 else None)
    gold = lambda p: p[0] > 150 and p[1] > 90 and p[2] < 80
    t.check("a click on the bell rings it", "rang", [
        ("the bell hangs where it was clicked", lambda: rang.share((462, 86, 482, 100), gold) > 0.2),
        ("its sound was fetched", lambda: t.logged(r"sound download callback: .*/sounds/chime$") >= 0),
        ("the click ran its activate action", lambda: bell_click >= 0 and activated >= 0),
        ("the action played the sound", lambda: effect >= 0 and opened >= 0 and played >= 0),
        ("it opened and played without a failure", lambda: failed < 0 or failed > played),
        ("and ended", lambda: t.logged(r"sound_handler", played if played >= 0 else None) >= 0),
    ])
    glow_box = (494, 84, 538, 104)
    looks = [t.picture(n) for n in ("chat", "typing", "typed", "rang", "linked")]
    t.check("the glowing block animates and plays its tune", "rang", [
        ("its pictures were fetched",
         lambda: all(t.logged(r"texture_download \(glow%d\)" % n) >= 0 for n in range(1, 5))),
        ("its face changes", lambda: max(a.differs(b, glow_box, 1) for a in looks for b in looks) > 0.1),
        ("its MIDI tune played",
         lambda: t.logged(r"sound_create \(tune\.mid\)") >= 0 and t.logged(r"mciSendString: play midi") >= 0),
    ])
    linked = t.picture("linked")
    home_page = lambda p: abs(p[0] - 232) < 8 and abs(p[1] - 238) < 8 and abs(p[2] - 244) < 8
    page2 = lambda p: p[0] > 240 and 225 < p[1] < 250 and 175 < p[2] < 210
    sign_click = t.logged(r"viewport_click", effect if effect >= 0 else None)
    t.check("the web pane shows the home page, then an object's address", "linked", [
        ("the world's home page was asked for", lambda: t.logged(r"web_navigate \(http://.*/demo/web/home\.html, 1\)") >= 0),
        ("the pane showed it", lambda: chat.share(pane, home_page) > 0.7),
        ("a click on the signboard opened its address",
         lambda: sign_click >= 0 and t.logged(r"web_navigate \(http://.*/demo/web/page2\.html, 0\)", sign_click) >= 0),
        ("the pane shows that page", lambda: linked.share(pane, page2) > 0.7),
    ])
    hp, helped = t.picture("help"), t.picture("helped")
    topics = (4, 168, 160, 218)
    register = lambda p: abs(p[0] - 244) < 6 and abs(p[1] - 241) < 6 and abs(p[2] - 232) < 6
    t.check("the help tab lists topics and opens one", "helped", [
        ("the list was empty before", lambda: linked.share(topics, dark) < 0.002),
        ("the help tab lists its topics", lambda: hp.share(topics, dark) > 0.02),
        ("menu 142 opened the registration help",
         lambda: t.logged(r"help_open \(register\.html\)") >= 0 and t.logged(r"web_navigate_help \(file://.*/help/register\.html\)") >= 0),
        ("the pane shows it", lambda: helped.share(pane, register) > 0.7),
    ])
    tabs, worlds = t.picture("tabs"), t.picture("worlds")
    t.check("the worlds tab lists the universe's worlds", "worlds", [
        ("the world list was asked for", lambda: t.logged(r"worlds_init") >= 0),
        ("the list was empty before the tab was chosen",
         lambda: tabs.share((4, 168, 160, 368), dark) < 0.002),
        ("the worlds tab lists names", lambda: worlds.share((4, 168, 160, 368), dark) > 0.002),
    ])
    k = t.picture("contacts")
    t.check("the contacts tab shows the guide", "contacts", [
        ("the contact list names someone", lambda: k.share((4, 183, 100, 203), dark) > 0.01),
        ("the rest of the list is empty", lambda: k.share((4, 208, 160, 368), dark) < 0.002),
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
        ("the garden's sky is its sunset colour", lambda: g.share(SKY, sunset) > 0.4),
        ("the demo world's sky was not", lambda: e.share(VIEW, sunset) < 0.01),
        ("the garden's trees are drawn", lambda: g.share(VIEW, lambda p: p[1] > p[0] + 20) > 0.05),
    ])
    v = t.picture("vault")
    t.check("the vault refuses entry", "vault", [
        ("the vault was looked up", lambda: t.logged(r"universe_lookup_world \(vault\)") >= 0),
        ("the refusal was told (message 89)",
         lambda: t.logged(r"msg \(89\)", t.logged(r"universe_lookup_world \(vault\)")) >= 0),
        ("the user stays in the garden", lambda: v.share(SKY, sunset) > 0.4),
    ])
    village(t, out, v)
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
ROCK = (364, 196, 386, 218)  # left of the glowing stone
GLOW = (392, 198, 432, 226)


def modules_tour(t):
    k = t.picture("closed")
    reddish = lambda p: p[0] > 150 and p[1] < 90 and p[2] < 90
    greenish = lambda p: p[1] > 100 and p[0] < 90 and p[2] < 90
    t.check("the console's lines wear their colours", "closed", [
        ("a line in red", lambda: k.share(CONSOLE, reddish) > 0.002),
        ("lines in green", lambda: k.share(CONSOLE, greenish) > 0.004),
    ])
    # The rest is taken back in the garden.
    c = t.picture("garden2")
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
    tu = t.picture("turned")
    chat_line = (170, 444, 240, 458)
    t.check("typed letters fill the chat line while the arrows turn the view", "turned", [
        ("the letters show in the chat line", lambda: tu.share(chat_line, dark) > e.share(chat_line, dark) + 0.02),
        ("the arrow turned the view", lambda: tu.differs(e, VIEW) > 0.05),
    ])
    pace = re.compile(r"tour: pace (\d+) frame steps in ([0-9.]+) s at ([0-9.]+) Hz, ([0-9.]+) s of processor time")
    paced = [m for m in map(pace.search, lines_of(os.path.join(t.out, "tessel.out"))) if m]
    steps, seconds, rate, cpu = (float(x) for x in paced[0].groups()) if paced else (0, 0, 0, 0)
    if paced:
        print("tour: standing still, %d frame steps in %.2f s (%.1f a second, the screen %.0f Hz), "
              "%.0f%% of a core" % (steps, seconds, steps / seconds, rate, 100 * cpu / seconds))
    t.check("standing still, frames come at most once per refresh", "end", [
        ("the frames were counted", lambda: paced and seconds > 2),
        ("the view went on being drawn", lambda: steps / seconds >= 5),
        ("no more than twice the screen's rate", lambda: steps / seconds <= 2 * rate),
    ])
    h = t.picture("handoff")
    t.check("a second start hands its command file over", "handoff", [
        ("the view stepped back", lambda: h.differs(e, VIEW) > 0.02),
        ("the garden's objects still show", lambda: h.background_share(VIEW) < 0.97),
    ])
    for yaw, side in zip(FACING, ("south", "east", "north", "west")):
        s = t.picture("behind%d" % yaw)
        t.check("in third person the own avatar shows its colours from the %s" % side, "behind%d" % yaw, [
            ("the user was turned", lambda: t.logged(r"teleport \(<null>, -0\.50, [-0-9.]+, -0\.50, %d\.0\)" % yaw) >= 0),
            ("its shirt is red", lambda: s.share(BEHIND, hue(0)) > 0.1),
            ("its trousers are blue", lambda: s.share(BEHIND, hue(2)) > 0.05),
        ])
    j = t.picture("joined")
    asked = t.logged(r"join \(guide, 102\)")
    t.check("the contacts' menu asks to join the guide", "joined", [
        ("the join was asked for", lambda: asked >= 0),
        ("the user was taken to the guide in the garden",
         lambda: asked >= 0 and t.logged(r"teleport \(garden, -?0\.00, [-0-9.]+, 0\.20", asked) >= 0),
        ("the garden's objects are in sight there", lambda: j.background_share(VIEW) < 0.97),
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
