"""The package check of scripts/install-deps, run as a machine that lacks packages sees it.

dpkg-query, apt-get, sudo and id are fakes on PATH: dpkg-query answers as the real one does
for packages it has never heard of (rc 1, "no packages found matching ..."), apt-get records
its calls and fails on demand.
"""
import os
import re
import shutil
import subprocess
import tempfile
import textwrap
import unittest

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))
SCRIPT = os.path.join(ROOT, "scripts", "install-deps")


def script_packages():
    text = open(SCRIPT).read()
    block = re.search(r"packages=\((.*?)\)", text, re.S).group(1)
    return block.split()


FAKES = {
    "dpkg-query": r"""
        #!/usr/bin/env python3
        import os, sys
        states = dict(l.split(None, 1) for l in open(os.environ["FAKE_DPKG_DB"]).read().splitlines())
        names = [a for a in sys.argv[1:] if not a.startswith("-")]
        rc = 0
        for n in names:
            if n in states:
                print(n, states[n])
            else:
                print("dpkg-query: no packages found matching " + n, file=sys.stderr)
                rc = 1
        sys.exit(rc)
        """,
    "apt-get": r"""
        #!/usr/bin/env bash
        echo "$*" >> "$FAKE_LOG"
        case "${FAKE_APT:-ok}" in
          unknown) [ "$1 $2" = "-o DPkg::Lock::Timeout=0" ] || true
                   [[ " $* " == *" install "* ]] && { echo "E: Unable to locate package $FAKE_BAD" >&2; exit 100; } ;;
          nosource) [[ " $* " == *" update "* ]] && { echo "E: Failed to fetch http://deb.example/dists/InRelease  Temporary failure resolving 'deb.example'" >&2; exit 100; } ;;
          locked) echo "E: Could not get lock /var/lib/dpkg/lock-frontend. It is held by process 4242 (upgrader)" >&2; exit 100 ;;
        esac
        exit 0
        """,
    "sudo": r"""
        #!/usr/bin/env bash
        echo "sudo: a password is required" >&2
        exit 1
        """,
    "locale": r"""
        #!/usr/bin/env bash
        echo de_DE.utf8
        """,
    "cmake": r"""
        #!/usr/bin/env bash
        touch "$FAKE_BUILT"
        exit 1
        """,
}


class InstallDeps(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp()
        self.bin = os.path.join(self.dir, "bin")
        os.mkdir(self.bin)
        for name, body in FAKES.items():
            path = os.path.join(self.bin, name)
            with open(path, "w") as f:
                f.write(textwrap.dedent(body).lstrip())
            os.chmod(path, 0o755)
        self.log = os.path.join(self.dir, "apt.log")
        self.db = os.path.join(self.dir, "dpkg.db")
        self.built = os.path.join(self.dir, "built")
        self.packages = script_packages()

    def tearDown(self):
        shutil.rmtree(self.dir)

    def machine(self, states):
        """Every package installed, but for `states` (name -> status, or None: never heard of)."""
        with open(self.db, "w") as f:
            for p in self.packages:
                s = states.get(p, "install ok installed")
                if s is not None:
                    f.write(f"{p} {s}\n")

    def non_root(self):
        path = os.path.join(self.bin, "id")
        with open(path, "w") as f:
            f.write('#!/usr/bin/env bash\n[ "$1" = -u ] && { echo 1000; exit 0; }\nexec /usr/bin/id "$@"\n')
        os.chmod(path, 0o755)

    def run_cmd(self, argv, apt="ok"):
        env = dict(os.environ, PATH=self.bin + ":" + os.environ["PATH"], FAKE_LOG=self.log,
                   FAKE_DPKG_DB=self.db, FAKE_APT=apt, FAKE_BAD="libsodium-dev",
                   FAKE_BUILT=self.built, INSTALL_DEPS_LOCK_WAIT="1")
        return subprocess.run(argv, env=env, cwd=ROOT, capture_output=True, text=True, timeout=120,
                              stdin=subprocess.DEVNULL)

    def apt_calls(self):
        return open(self.log).read().splitlines() if os.path.exists(self.log) else []

    def installed_by(self, calls):
        names = []
        for c in calls:
            if " install " in f" {c} ":
                names += [w for w in c.split() if not w.startswith("-") and w not in ("install",)
                          and not w.startswith("DPkg::")]
        return names

    def test_exactly_the_missing_packages_are_installed_whatever_dpkg_says_of_them(self):
        missing = {"qt6-base-dev": None, "libsodium-dev": None, "liblmdb-dev": None,
                   "zip": "deinstall ok config-files", "cmake": "install ok half-installed",
                   "git": "hold ok installed"}
        self.machine(missing)
        r = self.run_cmd(["bash", SCRIPT])
        self.assertEqual(r.returncode, 0, r.stderr)
        want = sorted(p for p in missing if p != "git")
        self.assertEqual(sorted(self.installed_by(self.apt_calls())), want)
        self.assertIn(f"installing {len(want)} missing package(s)", r.stderr)
        for p in want:
            self.assertIn(p, r.stderr)

    def test_nothing_is_asked_for_when_nothing_is_missing(self):
        self.machine({})
        r = self.run_cmd(["bash", SCRIPT])
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.apt_calls(), [])
        self.assertEqual(r.stderr, "")

    def test_a_failed_install_is_told_with_the_packages_and_the_reason_and_nothing_is_built(self):
        cases = [
            ("unknown", "Unable to locate package libsodium-dev", False),
            ("nosource", "Temporary failure resolving", False),
            ("locked", "Could not get lock", False),
            ("ok", "a password is required", True),
        ]
        for apt, reason, as_user in cases:
            with self.subTest(apt=apt, as_user=as_user):
                if os.path.exists(self.log):
                    os.unlink(self.log)
                self.machine({"libsodium-dev": None, "qt6-base-dev": None})
                if as_user:
                    self.non_root()
                r = self.run_cmd(["bash", "run", "demo"], apt=apt)
                self.assertNotEqual(r.returncode, 0)
                failure = [l for l in r.stderr.splitlines() if "could not install" in l]
                self.assertEqual(len(failure), 1, r.stderr)
                self.assertIn("libsodium-dev", failure[0])
                self.assertIn("qt6-base-dev", failure[0])
                self.assertIn(reason, failure[0])
                self.assertFalse(os.path.exists(self.built), "the run went on to build")
                if apt == "locked":
                    self.assertIn("waiting for it up to 1 s", r.stderr)
                    self.assertTrue(any("Lock::Timeout=1 " in c for c in self.apt_calls()))


if __name__ == "__main__":
    unittest.main()
