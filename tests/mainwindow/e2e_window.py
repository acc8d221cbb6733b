#!/usr/bin/env python3
"""Drives the real palisor program under Xvfb with trayer as the notification area.

    e2e_window.py PALISOR_EXECUTABLE ARTEFACT_DIR TEST_SERVERS_DIR

Checks the countdown caption, stop and start, the trip to the tray and back, and the end
button and SIGTERM in the middle of a run whose download hangs on the local HTTP test server.
Screenshots of the window and of the tray go to ARTEFACT_DIR. Exits 77 (skipped) when the
X tools are missing.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time
from pathlib import Path

TOOLS = ("Xvfb", "trayer", "xdotool", "xwininfo", "import")
SCREEN = "800x200x24"
TIMEOUT = 10.0  # seconds for any one thing to happen; every wait ends as soon as it does

# Left and width of each button, in twips, in a client area 3840 twips wide.
BUTTONS = {
    "開始": (0, 600),
    "停止": (600, 600),
    "手動実行": (1200, 835),
    "設定": (2040, 600),
    "終了": (2640, 600),
    "▼": (3240, 600),
}


class Failure(Exception):
    pass


def wait_for(what, probe, timeout=TIMEOUT):
    """Polls `probe` until it returns something truthy; returns that or fails."""
    deadline = time.monotonic() + timeout
    while True:
        value = probe()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure("timed out waiting for " + what)
        time.sleep(0.03)


class Desktop:
    """An X server with a tray, and the X tools pointed at it."""

    def __init__(self, scratch):
        self.processes = []
        read_end, write_end = os.pipe()
        # Xvfb picks a free display itself and writes its number to the pipe. Without
        # -noreset it resets when its last client leaves, and a program started in that moment
        # cannot connect.
        self.start(["Xvfb", "-displayfd", str(write_end), "-screen", "0", SCREEN,
                    "-nolisten", "tcp", "-noreset"], pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise Failure("Xvfb did not start")
        runtime = Path(scratch) / "runtime"
        runtime.mkdir(mode=0o700)
        # The captions and buttons looked for are the Japanese ones, whatever the machine's locale.
        self.env = dict(os.environ, DISPLAY=":" + number, QT_QPA_PLATFORM="xcb",
                        XDG_RUNTIME_DIR=str(runtime), LANG="C.UTF-8")
        for name in ("XAUTHORITY", "LANGUAGE", "LC_ALL", "LC_MESSAGES"):
            self.env.pop(name, None)
        self.tray_panel = self.start(["trayer", "--edge", "top", "--align", "right", "--widthtype", "pixel",
                    "--width", "120", "--heighttype", "pixel", "--height", "24",
                    "--transparent", "false", "--tint", "0x808080", "--SetDockType", "false"])
        self.tray = wait_for("the tray panel", lambda: self.find_window(["--name", "^panel$"]))

    def start(self, command, **options):
        process = subprocess.Popen(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   env=getattr(self, "env", None), **options)
        self.processes.append(process)
        return process

    def run(self, *command):
        return subprocess.run(command, env=self.env, capture_output=True, text=True,
                              timeout=TIMEOUT).stdout

    def find_window(self, criteria):
        found = self.run("xdotool", "search", "--onlyvisible", *criteria).split()
        return found[0] if found else None

    def name(self, window):
        return self.run("xdotool", "getwindowname", window).strip()

    def geometry(self, window):
        """(x, y, width, height) of a window, in root coordinates."""
        text = self.run("xwininfo", "-id", window)
        value = lambda label: int(re.search(label + r":\s+(-?\d+)", text).group(1))
        return (value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"),
                value("Height"))

    def viewable(self, window):
        return "IsViewable" in self.run("xwininfo", "-id", window)

    def click(self, x, y, button=1, repeat=1):
        # Away first: a --sync move to where the pointer already is waits forever.
        self.run("xdotool", "mousemove", "0", "0", "mousemove", "--sync", str(x), str(y),
                 "click", "--repeat", str(repeat), str(button))

    def screenshot(self, path):
        self.run("import", "-window", "root", str(path))
        if not Path(path).exists():
            raise Failure("no screenshot at " + str(path))

    def close(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.terminate()
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


def caption_count(caption):
    match = re.fullmatch(r"待機中\((\d+)秒\)", caption)
    return int(match.group(1)) if match else None


def connected_to(port):
    """Whether some local client holds an established TCP connection to `port` on 127.0.0.1."""
    with open("/proc/net/tcp") as table:
        for line in table.readlines()[1:]:
            fields = line.split()
            remote_port, state = int(fields[2].split(":")[1], 16), fields[3]
            if remote_port == port and state == "01":
                return True
    return False


def start_stalling_list(desktop, servers, scratch):
    """The local HTTP test server; returns its port and the address of a list that never
    answers."""
    root = Path(scratch) / "lists"
    root.mkdir()
    server = subprocess.Popen([sys.executable, str(Path(servers) / "http_server.py"), str(root)],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    desktop.processes.append(server)
    port = server.stdout.readline().strip()
    if not port.isdigit():
        raise Failure("the HTTP test server did not start")
    return int(port), f"http://127.0.0.1:{port}/stall"


def write_settings(scratch, anonymous_list):
    """Only the Anonymous list, no upload, so a run goes nowhere but the local server."""
    lines = ["[FTP]", "FTPSW=0", "[URL]", "URL1=" + anonymous_list, "MODE1=-1"]
    lines += [f"MODE{n}=0" for n in range(2, 7)]
    lines += ["[CNT]"] + [f"IPG_{c}=0" for c in ("JP", "CN", "HK", "TW", "KR")]
    (Path(scratch) / "palisor.ini").write_bytes(("\r\n".join(lines) + "\r\n").encode("ascii"))


def drive(desktop, program, servers, scratch, artefacts):
    server_port, stalling_list = start_stalling_list(desktop, servers, scratch)
    write_settings(scratch, stalling_list)
    palisor = desktop.start([program], cwd=scratch)
    pid = str(palisor.pid)

    def main_window():
        for window in desktop.run("xdotool", "search", "--pid", pid).split():
            x, y, width, height = desktop.geometry(window)
            if width > 100 and desktop.name(window) not in ("", "palisor"):
                return window
        return None

    window = wait_for("the main window", main_window)
    wait_for("the window to be shown", lambda: desktop.viewable(window))
    left, top, width, height = desktop.geometry(window)

    def press(button):
        button_left, button_width = BUTTONS[button]
        x = left + (button_left + button_width // 2) * width // 3840
        desktop.click(x, top + height // 2)

    def caption_is(text):
        return lambda: desktop.name(window) == text

    wait_for("the first countdown caption", caption_is("待機中(3599秒)"))
    wait_for("the second tick", lambda: caption_count(desktop.name(window)) == 3598)
    desktop.screenshot(artefacts / "window.png")

    press("停止")
    wait_for("停止中", caption_is("停止中"))
    if palisor.poll() is not None:
        raise Failure("the program ended after 停止")
    press("開始")
    resumed = wait_for("the countdown to resume",
                       lambda: caption_count(desktop.name(window)), timeout=3)
    if resumed not in (3597, 3596):
        raise Failure(f"開始 resumed at {resumed}, not from the count kept by 停止")

    press("▼")
    wait_for("the window to hide", lambda: not desktop.viewable(window))

    def tray_icon():
        tray_x, tray_y, tray_width, tray_height = desktop.geometry(desktop.tray)
        for candidate in desktop.run("xdotool", "search", "--onlyvisible", "--pid", pid).split():
            x, y, w, h = desktop.geometry(candidate)
            if tray_x <= x < tray_x + tray_width and tray_y <= y < tray_y + tray_height:
                return (x + w // 2, y + h // 2)
        return None

    # Every button on the icon: the middle one leaves the window in the tray; the others,
    # pressed once or twice, bring it back without harm.
    for name, button, repeat in (("middle", 2, 1), ("left", 1, 1), ("right", 3, 1),
                                 ("double", 1, 2), ("middle", 2, 1), ("left", 1, 1)):
        if not desktop.viewable(window):
            icon = wait_for("the icon in the tray", tray_icon)
            desktop.screenshot(artefacts / "tray.png")
        else:
            press("▼")
            wait_for("the window to hide", lambda: not desktop.viewable(window))
            icon = wait_for("the icon in the tray", tray_icon)
        desktop.click(*icon, button=button, repeat=repeat)
        if button == 2:
            time.sleep(0.3)
            if desktop.viewable(window):
                raise Failure("a middle click brought the window back")
        else:
            wait_for("the window to come back after a " + name + " click",
                     lambda: palisor.poll() is not None or desktop.viewable(window))
            if palisor.poll() is None:
                wait_for("the icon to leave the tray", lambda: tray_icon() is None)
        if palisor.poll() is not None:
            raise Failure(f"the program ended with status {palisor.returncode} "
                          f"after a {name} click on the tray icon")
    desktop.screenshot(artefacts / "restored.png")

    # The panel holding the icon ends while the window is in it: the window comes back.
    left, top, width, height = desktop.geometry(window)
    press("▼")
    wait_for("the window to hide", lambda: not desktop.viewable(window))
    wait_for("the icon in the tray", tray_icon)
    desktop.tray_panel.terminate()
    desktop.tray_panel.wait(timeout=5)
    wait_for("the window to come back when the tray is gone", lambda: desktop.viewable(window))

    left, top, width, height = desktop.geometry(window)
    press("手動実行")
    wait_for("the run to start its download", caption_is("PROXY情報の取得中[Anonymous]"))
    wait_for("the download to hang on the local server", lambda: connected_to(server_port))
    press("終了")
    code = wait_for("the program to end", lambda: palisor.poll() is not None and [palisor.returncode])
    if code != [0]:
        raise Failure(f"the program ended with status {code[0]}")
    log = (Path(scratch) / "palisor.log").read_text(encoding="utf-8")
    if "  abandoned  stage: PROXY情報の取得中[Anonymous]" not in log:
        raise Failure("the run 終了 stopped is not in palisor.log: " + log)

    # SIGTERM (a logout, kill, a service manager) ends it as 終了 does, with the status a
    # shell gives a program that signal ended.
    palisor = desktop.start([program], cwd=scratch)
    pid = str(palisor.pid)
    window = wait_for("the main window of the second start", main_window)
    wait_for("the window to be shown", lambda: desktop.viewable(window))
    left, top, width, height = desktop.geometry(window)
    press("手動実行")
    wait_for("the download to hang again", lambda: connected_to(server_port))
    palisor.send_signal(signal.SIGTERM)
    code = wait_for("the program to end", lambda: palisor.poll() is not None and [palisor.returncode])
    if code != [128 + signal.SIGTERM]:
        raise Failure(f"SIGTERM ended the program with status {code[0]}")
    log = (Path(scratch) / "palisor.log").read_text(encoding="utf-8")
    if log.count("  abandoned  stage: PROXY情報の取得中[Anonymous]") != 2:
        raise Failure("the run SIGTERM stopped is not in palisor.log: " + log)


def main():
    program, artefacts, servers = str(Path(sys.argv[1]).resolve()), Path(sys.argv[2]), sys.argv[3]
    missing = [tool for tool in TOOLS if shutil.which(tool) is None]
    if missing:
        print("skipped: missing " + " ".join(missing))
        return 77
    artefacts.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory(prefix="palisor-e2e-") as scratch:
        desktop = None
        try:
            desktop = Desktop(scratch)
            drive(desktop, program, servers, scratch, artefacts)
        except (Failure, OSError, subprocess.TimeoutExpired) as error:
            if desktop is not None:
                desktop.screenshot(artefacts / "failure.png")
            print("FAILED:", error)
            return 1
        finally:
            if desktop is not None:
                desktop.close()
    print("passed; screenshots in", artefacts)
    return 0


if __name__ == "__main__":
    sys.exit(main())
