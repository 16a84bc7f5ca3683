#!/usr/bin/python3
"""The Windows program's window on an X display under Wine.

Starts quillane.exe without --headless, waits for its window to be mapped
(an X event, not a poll), finds it by its caption with xdotool, checks its
place and its client size against what the system reports, works the
controls with the keyboard and the mouse, and keeps a screenshot.

With --shim-source (the modem-line library that lets Wine watch a
pseudo-terminal, built here with the host's C compiler) the port is a pseudo-terminal mapped as a COM port: the test ticks the
simulation, opens the port with the button, waits for the first reading and
asks the device to identify itself. Without it, opening a COM port that does
not exist must show the error display, a message box in front of the window.

Needs DISPLAY (an X server without a window manager) and WINEPREFIX with
the X11 driver's Managed set to N.
"""
import argparse
import os
import pty
import re
import select
import shutil
import subprocess
import sys
import tempfile
import time
import tty

from Xlib import X, display

CAPTION = "serial server; Korrin service"
DEADLINE = 60.0  # generous: a first start of Wine's services is slow
FIRST_READING = b"-17.8040008544922\r\n"
IDENTITY = b"quillane, V 1.0\r\n"
READING = re.compile(rb"^-?[0-9.E-]+\r\n$")


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(*command):
    return subprocess.run(command, check=True, capture_output=True, encoding="utf-8").stdout


def probe(probe_exe, *args):
    lines = run("wine", probe_exe, *args).splitlines()
    facts = {}
    for line in lines:
        name, _, rest = line.partition(" ")
        facts[name] = rest
    return facts


def rect(facts, name):
    return [int(v) for v in facts[name].split()]


class MapWatcher:
    """Reports top-level windows as the X server maps them."""

    def __init__(self):
        self.x = display.Display()
        self.root = self.x.screen().root
        self.root.change_attributes(event_mask=X.SubstructureNotifyMask)
        self.x.sync()

    def wait_for(self, title):
        end = time.monotonic() + DEADLINE
        while True:
            while self.x.pending_events():
                event = self.x.next_event()
                if event.type == X.MapNotify and self.name(event.window) == title:
                    return event.window.id
            left = end - time.monotonic()
            if left <= 0:
                fail("no window '%s' was mapped within %d s" % (title, DEADLINE))
            select.select([self.x.fileno()], [], [], left)

    @staticmethod
    def name(window):
        try:
            return window.get_wm_name() or ""
        except Exception:  # the window went away meanwhile
            return ""


class LineClient:
    """The client on the master side of the pseudo-terminal."""

    def __init__(self, master):
        self.master = master
        self.pending = b""

    def read_line(self):
        end = time.monotonic() + DEADLINE
        while b"\n" not in self.pending:
            left = end - time.monotonic()
            readable, _, _ = select.select([self.master], [], [], max(left, 0))
            if not readable:
                fail("no reply within %d s (have %r)" % (DEADLINE, self.pending))
            self.pending += os.read(self.master, 4096)
        line, _, self.pending = self.pending.partition(b"\n")
        return line + b"\n"

    def ask(self, command):
        os.write(self.master, command)
        while True:
            line = self.read_line()
            if not READING.match(line):
                return line


def center(box):
    left, top, width, height = box
    return left + width // 2, top + height // 2


def click(point):
    run("xdotool", "mousemove", str(point[0]), str(point[1]), "click", "1")


def keys(*names):
    run("xdotool", "key", "--delay", "50", *names)


def type_text(text):
    run("xdotool", "type", "--delay", "50", text)


def check_layout(watcher_id, facts):
    found = run("xdotool", "search", "--name", "^" + re.escape(CAPTION) + "$").split()
    if str(watcher_id) not in found:
        fail("xdotool does not find the window by its caption (found %s)" % found)
    geometry = run("xdotool", "getwindowgeometry", "--shell", str(watcher_id))
    values = dict(line.split("=", 1) for line in geometry.split())
    x_rect = [int(values[k]) for k in ("X", "Y", "WIDTH", "HEIGHT")]
    if x_rect != [133, 217, 591, 418]:
        fail("the X window is at %s, not 133 217 591 418" % x_rect)
    if rect(facts, "window") != x_rect:
        fail("the system's window rectangle %s differs from the X window's" % facts["window"])
    client = rect(facts, "client")
    if client != rect(facts, "framed-client") or client[1] <= 113:
        fail("client size %s, the frame leaves %s" % (client, facts["framed-client"]))
    log = rect(facts, "meRX")
    if log[2] != client[0] or log[3] != client[1] - 113:
        fail("the log is %s, not the client area below the panel %s" % (log, client))
    print("window 591 x 418 at 133, 217; client area %d x %d" % tuple(client))


def choose_port(facts, port):
    """Types the port and the rate (Tab moves on and ends each edit), then
    ticks the simulation."""
    left, top, width, height = rect(facts, "cbComPortNr")
    click((left + 20, top + height // 2))  # into the list's text
    keys("Home", "shift+End")
    type_text(port)
    keys("Tab")  # the next list's text comes selected
    type_text("9600")
    keys("Tab")
    left, top, width, height = rect(facts, "cbSimulation")
    click((left + 6, top + height // 2))  # the box itself


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--exe", required=True)
    parser.add_argument("--probe", required=True)
    parser.add_argument("--out", required=True, help="folder for the screenshot")
    parser.add_argument("--shim-source", help="modem-line library for Wine on a pseudo-terminal")
    args = parser.parse_args()
    for name in ("DISPLAY", "WINEPREFIX"):
        if not os.environ.get(name):
            fail("%s is not set (scripts/test-windows.sh sets it)" % name)

    work = tempfile.mkdtemp(prefix="quillane-window-")
    environment = dict(os.environ)
    client = None
    com = "COM9"
    link = None
    if args.shim_source:
        shim = os.path.join(work, "modem_lines_shim.so")
        run("cc", "-shared", "-fPIC", "-O2", "-o", shim, args.shim_source, "-ldl")
        master, slave = pty.openpty()
        tty.setraw(master)
        com = "COM27"
        link = os.path.join(os.environ["WINEPREFIX"], "dosdevices", com.lower())
        if os.path.lexists(link):
            os.remove(link)
        os.symlink(os.ttyname(slave), link)
        client = LineClient(master)
        environment["LD_PRELOAD"] = shim

    watcher = MapWatcher()
    program = subprocess.Popen(
        ["wine", args.exe, "--parameter-file", windows_path(os.path.join(work, "quillane.ini"))],
        env=environment, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    try:
        window = watcher.wait_for(CAPTION)
        facts = probe(args.probe)
        check_layout(window, facts)
        choose_port(facts, com)
        click(center(rect(facts, "btOpenPort")))
        if client:
            if client.read_line() != FIRST_READING:
                fail("the first reading is not %r" % FIRST_READING)
            reply = client.ask(b"?\r\n")
            if reply != IDENTITY:
                fail("identify answered %r" % reply)
            log = probe(args.probe)["log"]
            for expected in ("com port open", "raw  4 T -17.80\u00b0C", "received ?\\n\\n",
                             "command number 4"):
                if expected not in log:
                    fail("the log lacks %r: %r" % (expected, log))
            print("%s opened through the controls; reading and identify answered" % com)
        else:
            watcher.wait_for("quillane")  # the error display in front of the window
            print("opening %s without a device showed the error display" % com)
            keys("Return")
        run("import", "-window", "root", os.path.join(args.out, "window-under-xvfb.png"))
        probe(args.probe, "close")
        status = program.wait(timeout=DEADLINE)
        if status != 0:
            fail("the program ended with status %d: %s" % (status, program.stderr.read()))
    except SystemExit:
        # What the screen showed when the test gave up.
        subprocess.run(["import", "-window", "root",
                        os.path.join(args.out, "window-under-xvfb-failed.png")], check=False)
        raise
    finally:
        if program.poll() is None:
            program.kill()
            program.wait()
        if link:
            os.remove(link)
        shutil.rmtree(work, ignore_errors=True)
    print("screenshot: " + os.path.join(args.out, "window-under-xvfb.png"))


if __name__ == "__main__":
    main()
