"""Corvix.exe's round trips and running time under Wine against the stand-in Office.

Run through bench/run.sh, which builds what this needs and sets up Wine. Environment:
  CORVIX_EXE          Corvix.exe as shipped (member names resolved once per interface and name)
  CORVIX_EXE_NOCACHE  Corvix.exe built with -DCORVIX_NAME_CACHE=OFF (names resolved on every call)
  CORVIX_EXE_PREVIOUS an earlier build of Corvix.exe, timed in the same run for comparison (optional)
  STANDIN_EXE         office_standin.exe
  DRIVER_EXE          e2e_driver.exe (reports Corvix.exe's elapsed time)
  BENCH_RUNS          timed runs per scenario (default 5)
  BENCH_SIZES         Word Tools menu sizes for the scaling runs (default "1000 10000")
  BENCH_SECTIONS      which figures to print (default "trips time channel": round trips, running time, the
                      standard run's time with each kind of listener on the debugger channel)

Prints figures only; nothing here passes or fails.
"""
import os
import re
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

CORVIX = os.environ["CORVIX_EXE"]
CORVIX_NOCACHE = os.environ.get("CORVIX_EXE_NOCACHE", "")
CORVIX_PREVIOUS = os.environ.get("CORVIX_EXE_PREVIOUS", "")
STANDIN = os.environ["STANDIN_EXE"]
DRIVER = os.environ["DRIVER_EXE"]
RUNS = int(os.environ.get("BENCH_RUNS", "5"))
SIZES = [int(n) for n in os.environ.get("BENCH_SIZES", "1000 10000").split()]
SECTIONS = os.environ.get("BENCH_SECTIONS", "trips time channel").split()
WAIT = 600  # seconds; every wait has a limit


# ---- scenarios

def menu(indent, count, every, markers):
    """`count` buttons; every `every`th is marked, the markers taken in turn."""
    lines, marked = [], 0
    for i in range(1, count + 1):
        if i % every == 0:
            lines.append(f'{indent}button "Merrowin Item {i}" parameter "{markers[marked % len(markers)]}"')
            marked += 1
        else:
            lines.append(f'{indent}button "Item {i}"')
    return lines


def buttons(indent, count, name):
    return [f'{indent}button "{name} {i}"' for i in range(1, count + 1)]


def standard(word_tools=30, word_every=10):
    """Word and Outlook running; the add-in's bars with 5 buttons each; Word's Tools menu with `word_tools`
    controls, every `word_every`th marked; Outlook's Tools (30) and Actions (20) menus with 3 marked each."""
    lines = ["word running",
             '  bar "Standard" builtin', '    button "New"', '    button "Save"',
             '  bar "Merrowin Software"', *buttons("    ", 5, "Merrowin Button"),
             '  bar "Merrowin Software Toolbar"', *buttons("    ", 5, "Merrowin Tool"),
             '  bar "Menu Bar" active', '    popup "&File"', '      button "&Open..."',
             '    popup "&Tools"', *menu("      ", word_tools, word_every, ["Inspector Menu"]),
             "outlook running window",
             "  explorer",
             '    bar "Merrowin Software"', *buttons("      ", 5, "Merrowin Button"),
             '    bar "Menu Bar" active', '      popup "&File"',
             '      popup "&Tools"', *menu("        ", 30, 10, ["Explorer Menu", "Inspector Menu"]),
             "  inbox",
             '    mail "Welcome to Merrowin Software"',
             '      bar "Merrowin Software"', *buttons("        ", 5, "Merrowin Button"),
             '      bar "Menu Bar" active',
             '        popup "&Actions"', *menu("          ", 20, 6, ["Explorer Menu", "Inspector Menu", "Explorer Menu"])]
    return "\n".join(lines) + "\n"


# ---- running

def windows_path(path):
    return "Z:" + str(Path(path).resolve()).replace("/", "\\")


def wine(*args, timeout=WAIT, check=True):
    # Never a pipe: Wine's helper processes inherit it and keep it open.
    return subprocess.run(["wine", *map(str, args)], check=check, timeout=timeout,
                          stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


def run(corvix, scenario, root, driver_options=()):
    """One silent run of `corvix` against `scenario` (None: nothing registered), with more of e2e_driver's
    options. Returns the state folder and the run's time."""
    folder = Path(tempfile.mkdtemp(prefix="run-", dir=root))
    wine(STANDIN, "/unregister", check=False)
    server = None
    if scenario is not None:
        (folder / "scenario.txt").write_text(scenario, encoding="utf-8")
        wine(STANDIN, "/register", "--state", windows_path(folder))
        server = subprocess.Popen(["wine", STANDIN, "--state", windows_path(folder), "--running",
                                   "--timeout", str(WAIT)],
                                  stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + WAIT
        while not (folder / "ready").exists():
            if server.poll() is not None or time.time() > deadline:
                sys.exit(f"the stand-in did not come up: {(folder / 'error.txt').read_text() if (folder / 'error.txt').exists() else ''}")
            time.sleep(0.05)
    (folder / "arguments.txt").write_bytes(b"/s")
    wine(DRIVER, windows_path(corvix), windows_path(folder / "arguments.txt"), windows_path(folder / "report.txt"),
         "--timeout-ms", str(WAIT * 1000), *[str(option).replace("{folder}", windows_path(folder))
                                             for option in driver_options])
    if server is not None:
        (folder / "stop").write_text("")
        server.wait(timeout=WAIT)
        deadline = time.time() + WAIT
        while not (folder / "state.txt").exists() and time.time() < deadline:
            time.sleep(0.05)
    report = dict(line.split("=", 1) for line in (folder / "report.txt").read_text().splitlines() if "=" in line)
    if report.get("started") != "1" or report.get("timed_out") != "0":
        sys.exit(f"Corvix.exe did not run to its end: {report}")
    return folder, int(report["elapsed_ms"])


# ---- reading the journal

# A call "N target.member(args) -> result", or a property put "N target.member = value -> result".
ENTRY = re.compile(r"^\d+ (?P<target>.*?)\.(?P<member>[A-Za-z_()]+)(?:\((?P<args>.*)\)| = (?P<value>.*?)) -> (?P<result>.*)$")


def static_type(label):
    """The interface Corvix holds an object of this journal label as, before any conversion."""
    if label == "Word":
        return "Word._Application"
    if label == "Outlook":
        return "Outlook._Application"
    if label == "Normal" or label.startswith("template '"):
        return "Word.Template"
    if label.endswith(" bars"):
        return "_CommandBars"
    if label.startswith("controls of "):
        return "CommandBarControls"
    if re.match(r"^(explorer |inspector )?bar '", label):
        return "CommandBar"
    if re.match(r"^(button|popup|combobox) '", label):
        return "CommandBarControl"
    if re.match(r"^explorer \d+$", label):
        return "_Explorer"
    if label.startswith("inspector of "):
        return "_Inspector"
    if re.match(r"^(mail|meeting|report) '", label):
        return "Item"
    return {"MAPI": "_NameSpace", "Inbox": "MAPIFolder", "Inbox items": "_Items", "Explorers": "_Explorers"}.get(
        label, "?" + label)


def figures(folder):
    """Counts from one run's journal.txt and getidsofnames.txt."""
    journal = (folder / "journal.txt").read_text(encoding="utf-8").splitlines() if (folder / "journal.txt").exists() else []
    names = (folder / "getidsofnames.txt").read_text(encoding="utf-8").splitlines() \
        if (folder / "getidsofnames.txt").exists() else []
    invokes = 0
    converted = {}  # label -> the interface Corvix uses it as after a type test
    pairs = set()
    for line in journal:
        m = ENTRY.match(line)
        if not m or m["target"] in ("ROT", "COM"):
            continue  # the attach or start, which is COM's and not a call on an object
        target, member = m["target"], m["member"]
        invokes += 1
        if member != "(default)":  # the default member is called by DISPID, without a name
            pairs.add((converted.get(target, static_type(target)), member))
        # An object handed out anew is a new reference, used as its static type until it is tested.
        converted.pop(m["result"], None)
        # A type test's answer decides the interface the object is used as from then on.
        if member == "Type" and m["result"] == "I4 1":
            converted[target] = "_CommandBarButton"
        elif member == "Type" and m["result"] in [f"I4 {kind}" for kind in range(10, 15)]:
            converted[target] = "CommandBarPopup"
        elif member == "Class" and m["result"] == "I4 43":
            converted[target] = "_MailItem"
    operations = invokes
    lookups = len(names)
    return {"operations": operations, "getidsofnames": lookups, "invoke": invokes, "pairs": len(pairs),
            "per_op": (lookups + invokes) / operations if operations else 0.0}


# ---- printing

def print_round_trips(title, f):
    print(f"  {title:<26} operations {f['operations']:>6}   GetIDsOfNames {f['getidsofnames']:>6} "
          f"(distinct interface.member pairs {f['pairs']:>3})   Invoke {f['invoke']:>6}   "
          f"round trips/operation {f['per_op']:.3f}")


def timed(corvix, scenario, root, runs=RUNS, driver_options=()):
    times, folder = [], None
    for _ in range(runs):
        folder, ms = run(corvix, scenario, root, driver_options)
        times.append(ms)
    return times, folder


def controls_in(scenario):
    return sum(1 for line in scenario.splitlines() if line.lstrip().startswith(("button ", "popup ")))


# The kinds of listener on the debugger channel, as e2e_driver makes them.
LISTENERS = [("nobody listening", ()),
             ("a live listener", ("--listen", "{folder}\\channel.txt")),
             ("a stale listener", ("--listen-stale",)),
             ("DBWinMutex held elsewhere", ("--listen", "{folder}\\channel.txt", "--hold-dbwin-mutex"))]


def print_channel(root):
    print(f"== The standard run with each kind of listener on the debugger channel (median of {RUNS}, min, max)")
    for title, options in LISTENERS:
        times, folder = timed(CORVIX, standard(), root, driver_options=options)
        lines = folder / "channel.txt"
        taken = sum(1 for line in lines.read_text(encoding="utf-8").splitlines() if "\tCorvix: " in line) \
            if lines.exists() else 0
        print(f"  {title:<26} median {statistics.median(times):>8.0f} ms   min {min(times):>7} ms   "
              f"max {max(times):>7} ms   lines taken (last run) {taken:>3}", flush=True)


def main():
    root = Path(tempfile.mkdtemp(prefix="corvix-bench-"))
    try:
        if "trips" in SECTIONS:
            print("== Round trips, standard scenario (Word and Outlook running, 5 buttons per add-in bar,")
            print("   Word Tools 30 controls / 3 marked, Outlook Tools 30 / 3 and Actions 20 / 3, a mail first in the Inbox)")
            builds = [("name cache (shipped)", CORVIX)]
            if CORVIX_NOCACHE:
                builds.append(("no name cache", CORVIX_NOCACHE))
            for title, exe in builds:
                folder, _ = run(exe, standard(), root)
                print_round_trips(title, figures(folder))

        if "time" in SECTIONS:
            print()
            print(f"== Time of Corvix.exe /s, start to exit (driver's elapsed_ms; median of {RUNS}, min, max)")
            rows = [("nothing registered", None), ("standard", standard())]
            rows += [(f"Word Tools {n} controls", standard(word_tools=n)) for n in SIZES]
            if CORVIX_NOCACHE:
                rows.insert(2, ("standard, no name cache", standard()))
            previous = None  # (controls, median) of the last shipped-build row, for the cost of the added controls
            for title, scenario in rows:
                exe = CORVIX_NOCACHE if "no name cache" in title else CORVIX
                times, folder = timed(exe, scenario, root)
                median = statistics.median(times)
                line = f"  {title:<26} median {median:>8.0f} ms   min {min(times):>7} ms   max {max(times):>7} ms"
                if scenario is not None:
                    f = figures(folder)
                    n = controls_in(scenario)
                    was = None
                    if CORVIX_PREVIOUS and exe == CORVIX:
                        previous_times, _ = timed(CORVIX_PREVIOUS, scenario, root)
                        was = statistics.median(previous_times) / n
                    line += (f"   controls {n:>6}   {median / n:6.2f} ms/control"
                             + (f" (previous build {was:.2f})" if was else "")
                             + f"   operations {f['operations']:>6}"
                             f"   {1000 * median / f['operations']:6.0f} us/operation   round trips/op {f['per_op']:.3f}")
                    if exe == CORVIX:
                        if previous and n > previous[0]:
                            line += f"   added controls {(median - previous[1]) / (n - previous[0]):6.2f} ms each"
                        previous = (n, median)
                print(line, flush=True)
                shutil.rmtree(folder.parent / folder.name, ignore_errors=True)

        if "channel" in SECTIONS:
            print()
            print_channel(root)

        print()
        print(f"== Corvix.exe: {Path(CORVIX).stat().st_size} bytes; imports:")
        objdump = os.environ.get("OBJDUMP", "x86_64-w64-mingw32-objdump")
        headers = subprocess.run([objdump, "-p", CORVIX], check=True, capture_output=True, text=True).stdout
        print("  " + ", ".join(re.findall(r"DLL Name: (\S+)", headers)))
    finally:
        wine(STANDIN, "/unregister", check=False)
        shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    main()
