#!/usr/bin/env python3
"""Starts the real palisor program the ways a user or a desktop launcher does.

    start_options.py PALISOR_EXECUTABLE

Without a display (or with one that is not there) it says so in one line naming
palisor-update and exits 1; --help and --version need no display; a second window in one
folder shows the first and exits 0 while another folder (made by --dir) gets its own; a
settings file of 300 GB (sparse) does not stop the start; --init writes the sample files
without a display, never over a file.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
from pathlib import Path

TIMEOUT = 10.0


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)


RUNTIME_DIR = tempfile.mkdtemp(prefix="palisor-runtime-")  # as a desktop session has one


def environment(**changes):
    env = {k: v for k, v in os.environ.items()
           if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    env["XDG_RUNTIME_DIR"] = RUNTIME_DIR
    env.update(changes)
    return env


def run(palisor, arguments, env, cwd):
    return subprocess.run([palisor] + arguments, env=env, cwd=cwd, capture_output=True,
                          text=True, timeout=TIMEOUT)


def holds_window_lock(pid):
    """Whether process `pid` holds a flock, as /proc/locks lists it; probing with a lock of
    our own could make the program see its folder as taken."""
    with open("/proc/locks") as locks:
        return any(" FLOCK " in line and line.split()[4] == str(pid) for line in locks)


def start_window(palisor, arguments, cwd):
    window = subprocess.Popen([palisor] + arguments, cwd=cwd, stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True,
                              env=environment(QT_QPA_PLATFORM="offscreen"))
    deadline = time.monotonic() + TIMEOUT
    while not holds_window_lock(window.pid):
        if window.poll() is not None:
            raise Failure(f"palisor {arguments} ended: {window.stderr.read()}")
        if time.monotonic() > deadline:
            window.kill()
            raise Failure(f"palisor {arguments} took no window lock")
        time.sleep(0.05)
    return window


def one_line(result, pattern):
    check(result.stderr.count("\n") == 1, f"not one line: {result.stderr!r}")
    check(re.fullmatch(pattern, result.stderr.strip()), f"unexpected: {result.stderr!r}")


def check_answers_without_display(palisor, scratch):
    cases = [
        ([], environment(), 1, r"palisor: .*no display.*palisor-update.*"),
        ([], environment(DISPLAY=":4711"), 1, r"palisor: .*\":4711\".*palisor-update.*"),
        (["--bogus"], environment(), 2, None),
    ]
    for arguments, env, status, pattern in cases:
        result = run(palisor, arguments, env, scratch)
        check(result.returncode == status, f"{arguments}: exit {result.returncode}")
        if pattern:
            one_line(result, pattern)
    help_text = run(palisor, ["--help"], environment(), scratch)
    check(help_text.returncode == 0 and help_text.stdout.startswith("Usage: palisor"),
          f"--help: {help_text.stdout!r}")
    check("--dir DIR" in help_text.stdout, "--help does not describe --dir")
    version = run(palisor, ["--version"], environment(), scratch)
    check(re.fullmatch(r"palisor \d+(\.\d+)*\nLicense: MIT\n", version.stdout), f"--version: {version.stdout!r}")
    check(sorted(os.listdir(scratch)) == [], "answering options left files behind")


def check_init(palisor, scratch):
    folder = scratch / "init"
    made = run(palisor, ["--init", "--dir", str(folder)], environment(), scratch)
    check(made.returncode == 0, f"--init: exit {made.returncode}: {made.stderr!r}")
    check(sorted(os.listdir(folder)) == ["add2htaccess.txt", "add2htaccess2.txt", "palisor.ini"],
          f"--init wrote {sorted(os.listdir(folder))}")
    check(os.stat(folder / "palisor.ini").st_mode & 0o777 == 0o600, "palisor.ini is not 0600")
    again = run(palisor, ["--init"], environment(), folder)
    check(again.returncode == 1, f"a second --init: exit {again.returncode}")
    one_line(again, r"palisor: palisor\.ini already exists in .*init; .*none was written")


def check_one_window_per_folder(palisor, scratch):
    first_dir = scratch / "sites" / "first"
    first_dir.mkdir(parents=True)
    with open(first_dir / "palisor.ini", "wb") as huge:
        huge.truncate(300 << 30)
    first = start_window(palisor, ["--dir", str(first_dir)], scratch)
    try:
        second = run(palisor, [], environment(QT_QPA_PLATFORM="offscreen"), first_dir)
        check(second.returncode == 0, f"a second start that shows the window: exit {second.returncode}")
        one_line(second, r"palisor: Palisor already runs in .*first; one window per folder")

        other = start_window(palisor, ["--dir", "sites/other/made"], scratch)
        other.terminate()
        other.wait(TIMEOUT)
    finally:
        first.kill()
        first.wait(TIMEOUT)


def main():
    palisor = os.path.abspath(sys.argv[1])
    os.chmod(RUNTIME_DIR, 0o700)
    with tempfile.TemporaryDirectory(prefix="palisor-start-") as scratch_name:
        scratch = Path(scratch_name)
        try:
            (scratch / "options").mkdir()
            check_answers_without_display(palisor, scratch / "options")
            check_init(palisor, scratch)
            check_one_window_per_folder(palisor, scratch)
        except Failure as failure:
            print("FAILED:", failure, file=sys.stderr)
            return 1
        finally:
            shutil.rmtree(RUNTIME_DIR, ignore_errors=True)
    print("palisor starts, answers and refuses as expected")
    return 0


if __name__ == "__main__":
    sys.exit(main())
