"""The package check as a machine without the packages sees it: a dpkg-query that answers as the
real one does for unknown packages (rc 1), an apt-get that records its calls and fails on demand."""
import os
import re
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "install-deps")
PACKAGES = re.search(r"packages=\((.*?)\)", open(SCRIPT).read(), re.S).group(1).split()

FAKES = {
    "dpkg-query": """#!/usr/bin/env python3
import os, sys
states = dict(l.split(None, 1) for l in open(os.environ["FAKE_DPKG_DB"]).read().splitlines())
rc = 0
for n in (a for a in sys.argv[1:] if not a.startswith("-")):
    if n in states: print(n, states[n])
    else: print("dpkg-query: no packages found matching " + n, file=sys.stderr); rc = 1
sys.exit(rc)
""",
    "apt-get": """#!/usr/bin/env bash
echo "$*" >> "$FAKE_LOG"
case "$FAKE_APT" in
  unknown) [[ " $* " == *" install "* ]] && { echo "E: Unable to locate package libsodium-dev" >&2; exit 100; } ;;
  nosource) [[ " $* " == *" update "* ]] && { echo "E: Failed to fetch http://deb.example/InRelease  Temporary failure resolving" >&2; exit 100; } ;;
  locked) echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242" >&2; exit 100 ;;
esac
exit 0
""",
    "sudo": 'echo "sudo: a password is required" >&2; exit 1', "locale": "echo de_DE.utf8",
    "cmake": 'touch "$FAKE_BUILT"; exit 1',  # the run went on to build
    "id": '[ "$1" = -u ] && [ -n "$FAKE_USER" ] && { echo 1000; exit 0; }; exec /usr/bin/id "$@"',
}


class InstallDeps(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.dir)
        os.mkdir(os.path.join(self.dir, "bin"))
        for name, body in FAKES.items():
            path = os.path.join(self.dir, "bin", name)
            with open(path, "w") as f:
                f.write(body if body.startswith("#!") else "#!/usr/bin/env bash\n" + body + "\n")
            os.chmod(path, 0o755)

    def run_on(self, states, argv, apt="ok", user=""):
        """Every package installed but for `states` (name -> dpkg status, None: never heard of)."""
        with open(os.path.join(self.dir, "db"), "w") as f:
            f.writelines(f"{p} {states.get(p, 'install ok installed')}\n" for p in PACKAGES if states.get(p, 1))
        log = os.path.join(self.dir, "apt.log")
        if os.path.exists(log):
            os.unlink(log)
        env = dict(os.environ, PATH=os.path.join(self.dir, "bin") + ":" + os.environ["PATH"], FAKE_LOG=log,
                   FAKE_DPKG_DB=os.path.join(self.dir, "db"), FAKE_APT=apt, FAKE_USER=user,
                   FAKE_BUILT=os.path.join(self.dir, "built"), INSTALL_DEPS_LOCK_WAIT="1")
        r = subprocess.run(argv, env=env, cwd=ROOT, capture_output=True, text=True, timeout=120,
                           stdin=subprocess.DEVNULL)
        calls = open(log).read().splitlines() if os.path.exists(log) else []
        asked = [w for c in calls if " install " in f" {c} " for w in c.split()
                 if not w.startswith("-") and w != "install" and "::" not in w]
        return r, calls, sorted(asked)

    def test_exactly_the_missing_packages_are_installed_whatever_dpkg_says_of_the_others(self):
        missing = {"qt6-base-dev": None, "libsodium-dev": None, "liblmdb-dev": None,
                   "zip": "deinstall ok config-files", "cmake": "install ok half-installed"}
        r, _, asked = self.run_on(dict(missing, git="hold ok installed"), ["bash", SCRIPT])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(asked, sorted(missing))
        self.assertIn(f"installing {len(missing)} missing package(s): ", r.stderr)
        r, calls, _ = self.run_on({}, ["bash", SCRIPT])
        self.assertEqual((r.returncode, calls, r.stderr), (0, [], ""))

    def test_a_failed_install_is_told_with_the_packages_and_the_reason_and_nothing_is_built(self):
        for apt, reason, user in [("unknown", "Unable to locate package libsodium-dev", ""),
                                  ("nosource", "Temporary failure resolving", ""),
                                  ("locked", "Could not get lock", ""),
                                  ("ok", "a password is required", "1")]:
            with self.subTest(apt=apt, user=user):
                r, calls, _ = self.run_on({"libsodium-dev": None, "qt6-base-dev": None}, ["bash", "run", "demo"], apt, user)
                self.assertNotEqual(r.returncode, 0)
                failure = [l for l in r.stderr.splitlines() if "could not install" in l]
                self.assertEqual(len(failure), 1, r.stderr)
                for part in ("libsodium-dev", "qt6-base-dev", reason):
                    self.assertIn(part, failure[0])
                self.assertFalse(os.path.exists(os.path.join(self.dir, "built")), "the run went on to build")
                if apt == "locked":
                    self.assertIn("waiting for it up to 1 s", r.stderr)
                    self.assertTrue(any("Lock::Timeout=1 " in c for c in calls))


if __name__ == "__main__":
    unittest.main()
