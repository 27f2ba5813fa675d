"""End-to-end harness: the stand-in Office and Corvix.exe under Wine, driven from the Linux side.

Each Case gets its own state folder holding the scenario; the stand-in server is registered for it, started
first when the scenario has an application already running, and Corvix.exe is run through e2e_driver.exe,
which reports the message boxes and windows it saw. The stand-in's journal and final state are read back.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from pathlib import Path

# A test run in a Wine lane of its own (scripts/wine-lane.sh) takes that lane's prefix and display, for itself
# and for every program it starts.
LANE = os.environ.get("CORVIX_WINE_LANE", "")
if LANE:
    for line in (Path(LANE) / "env").read_text(encoding="utf-8").splitlines():
        name, _, value = line.partition("=")
        os.environ[name] = value

CORVIX = os.environ.get("CORVIX_EXE", "")
STANDIN = os.environ.get("STANDIN_EXE", "")
DRIVER = os.environ.get("DRIVER_EXE", "")
WAIT = 60  # seconds; every wait has a limit
# The program's version as the build defines it ("1.0.0.12"), and as the program tells it ("1.00.0012").
VERSION = os.environ.get("CORVIX_VERSION", "")
VERSION_TEXT = os.environ.get("CORVIX_VERSION_TEXT", "")
# The stall bound that Corvix.exe was built with (stall::kBoundMs); 0 outside CTest, which hands it over.
STALL_BOUND_MS = int(os.environ.get("CORVIX_STALL_BOUND_MS", "0"))
# A folder that keeps what every run left behind (its journal, final state, saved files and channel lines),
# under the test's name and the run's number: two test runs, on two commits, compare folder by folder.
KEEP = os.environ.get("CORVIX_E2E_KEEP", "")


def host_runs_32bit():
    """Whether this host's kernel runs 32-bit programs, and with them 32-bit Wine (scripts/host-32bit.sh;
    CORVIX_NO_32BIT=1 says it does not)."""
    script = Path(__file__).resolve().parents[2] / "scripts" / "host-32bit.sh"
    return subprocess.run(["bash", str(script), "--quiet"], check=False).returncode == 0


NO_32BIT = "this host's kernel runs no 32-bit programs"


def windows_path(path):
    """Wine maps drive Z: to the Unix root."""
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wine(program, *args, timeout=WAIT, check=True, stderr_file=None, env=None):
    """Runs a Windows program to its end. Its output is not captured through a pipe: one would stay open as
    long as the wineserver that the program may have started, which outlives it. `stderr_file`: a file that
    takes Wine's own output (its debug channels) instead."""
    with open(stderr_file, "wb") if stderr_file else open(os.devnull, "wb") as err:
        return subprocess.run(["wine", str(program), *map(str, args)], check=check, timeout=timeout, env=env,
                              stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err)


def restart_wine():
    """Ends every Wine program of this prefix with its wineserver, and starts the wineserver again, persistent
    as the lane made it (scripts/wine-env.sh): the next program starts a new Wine session."""
    for args in (["-k"], ["-w"], ["-p"]):
        subprocess.run(["wineserver", *args], check=False, timeout=WAIT, stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)


def channel_lines(path):
    """The lines a listener of e2e_driver took from the debugger channel, in the order they arrived, as
    (process id, text)."""
    lines = []
    for record in _read(path).splitlines():
        pid, _, text = record.partition("\t")
        lines.append((int(pid) if pid.isdigit() else 0, text))
    return lines


class Run:
    """What one run of Corvix.exe left behind."""

    def __init__(self, folder, report, report_lines=()):
        self.folder = folder
        self.report = report
        self.report_lines = list(report_lines)
        self.journal = _read(folder / "journal.txt").splitlines()
        self.state = _read(folder / "state.txt")

    def __getitem__(self, key):
        return self.report.get(key)

    def values(self, key):
        """Every value of a key the driver may report more than once (process=, visible_other=)."""
        return [line.split("=", 1)[1] for line in self.report_lines if line.split("=", 1)[0] == key]

    def calls(self, member=None):
        """Journal entries as 'target.member(args)', without numbers and results."""
        return [entry.split(" -> ", 1)[0] for entry in self.entries(member)]

    def entries(self, member=None):
        """Journal entries as 'target.member(args) -> result', without numbers; the run's folder (where the
        stand-in keeps Word's template files) reads DIR, so that two runs' journals compare."""
        folder = "Z:" + str(self.folder).replace("/", "\\")
        out = []
        for line in self.journal:
            entry = (line.split(" ", 1)[1] if " " in line else line).replace(folder, "DIR")
            if member is None or _member(entry) == member:
                out.append(entry)
        return out

    def messages(self):
        count = int(self.report.get("messages", "0"))
        return [(self.report[f"message{i}_title"], self.report[f"message{i}_text"],
                 self.report[f"message{i}_buttons"]) for i in range(1, count + 1)]

    def saved(self, app="word"):
        return _read(self.folder / f"saved_{app}.txt")

    def trace(self):
        """What Corvix wrote on the debugger channel (a run with trace=True), "Corvix: " lines only, in the
        order the listener took them (from every process of the session: a copy of Corvix's too)."""
        return [text for _, text in channel_lines(self.folder / "channel.txt") if text.startswith("Corvix: ")]


def _member(entry):
    """The member of a journal entry 'target.member(args) -> result', or of a property put
    'target.member = value -> result'."""
    call = entry.split(" -> ", 1)[0]
    if ".(default)(" in call:
        return "(default)"
    return call.split("(", 1)[0].split(" = ", 1)[0].rsplit(".", 1)[-1]


def _read(path):
    try:
        return Path(path).read_text(encoding="utf-8")
    except FileNotFoundError:
        return ""


class Case(unittest.TestCase):
    """A test case with helpers to run Corvix.exe against a scenario."""

    def setUp(self):
        for name, value in (("CORVIX_EXE", CORVIX), ("STANDIN_EXE", STANDIN), ("DRIVER_EXE", DRIVER)):
            if not value or not Path(value).exists():
                self.fail(f"{name} is not set to a built program: {value!r}")
        self.root = Path(tempfile.mkdtemp(prefix="corvix-e2e-"))
        self.addCleanup(shutil.rmtree, self.root, True)
        self.folder = self.root
        self.server = None

    def tearDown(self):
        self.stop_server()
        wine(STANDIN, "/unregister", check=False)

    def stop_server(self):
        if self.server is None:
            return
        (self.folder / "stop").write_text("")
        try:
            self.server.wait(timeout=WAIT)
        except subprocess.TimeoutExpired:
            # Once in a long series of runs Wine left the stand-in hanging in its shutdown. Killed, it leaves
            # its running-object-table entry behind, which would answer every later run's attach: the
            # prefix's Wine is ended with it, and the next Wine program starts it afresh.
            self.server.kill()
            self.server.wait(timeout=WAIT)
            print("harness: the running stand-in did not end when told; Wine is restarted", file=sys.stderr)
            restart_wine()
        self.server = None

    def corvix(self, scenario, arguments="/s", register=True, leave_message=False, exe=None, while_running=None,
               expect_state=True, driver_options=(), limit=WAIT, trace=False, channel=None,
               driver_env=None):
        """Runs Corvix.exe with the exact argument text against the stand-in seeded with `scenario`.
        `exe`: another copy of Corvix.exe to run. `while_running(folder)`: called on a thread as soon as
        Corvix is started, to act on the stand-in while it runs. `expect_state`: False when the stand-in will
        not live to write its final state. `driver_options`: more of e2e_driver's options (--tree, to run an
        uninstaller that runs Corvix). `limit`: seconds the driver gives Corvix before it ends it (the run
        then fails the test). `trace`: a listener on the debugger channel keeps what Corvix writes there
        (Run.trace()); without one, nobody listens. `channel`: "stale", a listener that never takes a line;
        "held", a listener whose channel another process holds (DBWinMutex), so that no line reaches it.
        `driver_env`: variables for the driver and what it starts (Corvix, the shell), not for the stand-in
        that runs already, nor for the Wine explorer that its window started."""
        self.runs = getattr(self, "runs", 0) + 1
        self.folder = self.root / f"run{self.runs}"
        self.folder.mkdir()
        (self.folder / "scenario.txt").write_text(scenario, encoding="utf-8")
        if not register:
            wine(STANDIN, "/unregister", check=False)
        else:
            # /register replaces whatever the stand-in registered before.
            # Once in a long series of runs Wine fails to start the program at all (exit code 1, no error.txt):
            # a second try.
            register_args = ["/register", "--state", windows_path(self.folder)]
            if wine(STANDIN, *register_args, check=False).returncode != 0:
                wine(STANDIN, *register_args)
        if register and any(line.split()[1:2] == ["running"] for line in scenario.splitlines() if line.strip()):
            self.start_running_server()
        (self.folder / "arguments.txt").write_bytes(arguments.encode("utf-8"))
        during = None
        if while_running is not None:
            during = threading.Thread(target=while_running, args=(self.folder,), daemon=True)
            during.start()
        options = ["--leave-message"] if leave_message else []
        options += ["--watch-file", windows_path(self.folder / "journal.txt"), "--timeout-ms", str(limit * 1000),
                    *driver_options]
        self.assertIn(channel, (None, "stale", "held"))
        self.assertFalse(trace and channel == "stale", "a stale listener keeps no lines")
        if trace or channel == "held":
            options += ["--listen", windows_path(self.folder / "channel.txt")]
        if channel == "stale":
            options.append("--listen-stale")
        if channel == "held":
            options.append("--hold-dbwin-mutex")
        driver = [DRIVER, windows_path(exe or CORVIX), windows_path(self.folder / "arguments.txt"),
                  windows_path(self.folder / "report.txt"), *options]
        driver_environment = dict(os.environ, **driver_env) if driver_env else None
        wine(*driver, timeout=limit + WAIT, env=driver_environment)
        # Once in a long series of runs Wine fails to create the process at all (started=0): nothing ran, so
        # the run is made again, as the stand-in's start is (but not with a thread acting on the run).
        first = _read(self.folder / "report.txt")
        if during is None and "started=0" in first.splitlines():
            print(f"harness: Corvix.exe was not created ({first.strip()!r}); a second try", file=sys.stderr)
            wine(*driver, timeout=limit + WAIT, env=driver_environment)
        if during is not None:
            during.join(WAIT)
        self.stop_server()
        self.wait_for_state(register and expect_state)
        lines = [line for line in _read(self.folder / "report.txt").splitlines() if "=" in line]
        report = dict(line.split("=", 1) for line in lines)
        run = Run(self.folder, report, lines)
        if KEEP:
            self.keep(run)
        self.assertEqual("1", run["started"], "Corvix.exe did not start")
        self.assertEqual("0", run["timed_out"], "Corvix.exe did not finish")
        if trace or channel:
            self.assertEqual("1", run["listener"], "the listener on the debugger channel did not come up")
        if channel == "held":
            self.assertEqual("1", run["dbwin_mutex_held"], "DBWinMutex was not taken")
        return run

    def keep(self, run):
        """Copies the run's record under CORVIX_E2E_KEEP/<test id>/run<N> (a second run of the same test, in
        another lane or for the 32-bit Corvix, gets a folder of its own)."""
        base = Path(KEEP) / f"{os.environ.get('CORVIX_E2E_GROUP', 'e2e')}.{self.id()}"
        target = base / self.folder.name
        target.mkdir(parents=True, exist_ok=True)
        for name in ("state.txt", "saved_word.txt", "saved_outlook.txt"):
            if (self.folder / name).exists():
                shutil.copy(self.folder / name, target / name)
        # The journal and the channel's lines without the test's folders and the lines' seconds: what stays the
        # same from one run of the same commit to the next. (Lines of two processes, a parent and its copy, may
        # come in either order.)
        root = "Z:" + str(self.root).replace("/", "\\")
        journal = (entry.replace(root, "ROOT") for entry in run.entries())
        (target / "journal.txt").write_text("".join(f"{entry}\n" for entry in journal), encoding="utf-8")
        if (self.folder / "channel.txt").exists():
            folder = "Z:" + str(self.folder).replace("/", "\\")
            lines = (re.sub(r"\d+\.\d\d s\b", "N s", line.replace(folder, "DIR").replace(root, "ROOT"))
                     for line in run.trace())
            (target / "channel.txt").write_text("".join(f"{line}\n" for line in lines), encoding="utf-8")

    def start_running_server(self):
        """The stand-in as the already running Office, up once it says it is ready. Like the registration, a
        second try when Wine failed to start the program at all (exit code 1 before it wrote anything)."""
        for attempt in (1, 2):
            self.server = subprocess.Popen(["wine", STANDIN, "--state", windows_path(self.folder), "--running"],
                                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            deadline = time.time() + WAIT
            while not (self.folder / "ready").exists():
                self.assertLess(time.time(), deadline, "the running stand-in did not come up")
                code = self.server.poll()
                if code == 1 and attempt == 1 and not (self.folder / "error.txt").exists():
                    break
                self.assertIsNone(code, _read(self.folder / "error.txt"))
                time.sleep(0.05)
            else:
                return

    def wait_for_state(self, register):
        """A server that COM started ends by itself once Corvix lets go; wait for its final state."""
        if not register or not (self.folder / "journal.txt").exists():
            return
        deadline = time.time() + WAIT
        while not (self.folder / "state.txt").exists() and time.time() < deadline:
            time.sleep(0.05)
