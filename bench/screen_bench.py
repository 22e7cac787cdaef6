#!/usr/bin/python3
"""Scrolling, End and reopening of a picture folder, read from the screen of a virtual display.

    /usr/bin/python3 bench/screen_bench.py [--build LABEL=build/bench/src/app/pictarre]...
        [--programs pictarre,gthumb,geeqie] [--clicks 12] [--display :97] [--label NAME]
        [--out RESULTS.txt] FOLDER...

Starts Xvfb (1280 x 1024 x 24, no window manager), and for every folder and every program
(Pictarre, then each peer that is installed: gThumb and geeqie from Debian) in the same run:

  1. a first opening, in a home of its own with empty caches: the program is started with the
     folder on its command line, its window is made the size of the screen, and the time from
     the start until the screen last changed (nothing changes for QUIET_S afterwards) is its
     first screen;
  2. CLICKS wheel notches down over the pictures, each sent by XTEST: the time from the notch
     until a strip of the screen across the pictures differs from before it (polled at ~1 ms);
     then the screen is left to settle before the next notch;
  3. the process tree's CPU time over those notches, divided by their number;
  4. End: the time until the screen last changed after the key (every picture drawn);
  5. the program is ended and started again in the same home: its first screen and End again,
     now from whatever the program kept on disk (its second opening).

Peak PSS of the program's process tree (/proc/PID/smaps_rollup of it and all its descendants,
sampled every 50 ms) covers the first opening. Every figure is read from the screen, none from
the program. One line of key=value figures per program and folder goes to standard output and to
--out. Needs Debian's xvfb, python3-xlib; gthumb and geeqie for the peers.
"""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import zlib

from Xlib import X, XK, display as xdisplay
from Xlib.ext import xtest

WIDTH, HEIGHT = 1280, 1024
QUIET_S = float(os.environ.get("QUIET_S", "1.5"))

# Where each program's screen is watched for the end of its drawing: all of it but Pictarre's
# status bar, whose clock changes every second.
WATCHED = {"pictarre": (0, 0.045, 1.0, 0.95)}

# Where each program shows its pictures, as fractions of the screen (x0, y0, x1, y1): the wheel
# is turned over the middle of it and the change is read from strips across it.
AREAS = {
    "pictarre": (0.05, 0.15, 0.95, 0.85),
    "gthumb": (0.35, 0.20, 0.95, 0.85),
    "geeqie": (0.05, 0.20, 0.40, 0.85),
}


def now():
    return time.monotonic()


# --------------------------------------------------------------------------------------------
# Processes: the tree under a pid, its CPU and its PSS.

def children_map():
    kids = {}
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % name) as f:
                stat = f.read()
        except OSError:
            continue
        ppid = int(stat[stat.rfind(")") + 2:].split()[1])
        kids.setdefault(ppid, []).append(int(name))
    return kids


def tree(pid):
    kids = children_map()
    out, todo = [], [pid]
    while todo:
        p = todo.pop()
        out.append(p)
        todo.extend(kids.get(p, []))
    return out


def cpu_seconds(pids):
    tick = os.sysconf("SC_CLK_TCK")
    total = 0
    for p in pids:
        try:
            with open("/proc/%d/stat" % p) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            total += int(fields[11]) + int(fields[12])
        except OSError:
            pass
    return total / tick


def pss_kb(pids):
    total = 0
    for p in pids:
        try:
            with open("/proc/%d/smaps_rollup" % p) as f:
                for line in f:
                    if line.startswith("Pss:"):
                        total += int(line.split()[1])
                        break
        except OSError:
            pass
    return total


def kind(pid):
    """The process's name, with the engine's --type= when it has one (renderer, gpu-process...)."""
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            args = f.read().split(b"\0")
    except OSError:
        return "?"
    name = os.path.basename(args[0].decode(errors="replace"))
    for a in args:
        if a.startswith(b"--type="):
            return name + ":" + a[7:].decode(errors="replace")
    return name


class PeakPss(threading.Thread):
    """The peak of the tree's summed PSS, and each kind of process's PSS at that moment."""

    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.peak, self.parts, self.stopped = pid, 0, {}, False

    def run(self):
        while not self.stopped:
            parts = {}
            for p in tree(self.pid):
                parts[kind(p)] = parts.get(kind(p), 0) + pss_kb([p])
            total = sum(parts.values())
            if total > self.peak:
                self.peak, self.parts = total, parts
            time.sleep(0.05)


# --------------------------------------------------------------------------------------------
# The screen.

class Screen:
    def __init__(self, name):
        self.d = xdisplay.Display(name)
        self.root = self.d.screen().root

    def grab(self, x, y, w, h):
        return self.root.get_image(x, y, w, h, X.ZPixmap, 0xFFFFFFFF).data

    watched = (0, 0, 1, 1)

    def whole(self):
        # A checksum of the watched screen, taken in bands so that no single request is huge.
        x0, y0, x1, y1 = (int(v) for v in (self.watched[0] * WIDTH, self.watched[1] * HEIGHT,
                                           self.watched[2] * WIDTH, self.watched[3] * HEIGHT))
        c = 0
        for y in range(y0, y1, 256):
            c = zlib.crc32(self.grab(x0, y, x1 - x0, min(256, y1 - y)), c)
        return c

    def strips(self, area):
        x0, y0, x1, y1 = (int(v) for v in (area[0] * WIDTH, area[1] * HEIGHT, area[2] * WIDTH, area[3] * HEIGHT))
        return b"".join(self.grab(x0 + (x1 - x0) * k // 9, y0, 3, y1 - y0) for k in range(1, 9))

    def save(self, path):
        """Writes the screen as a PNG (SHOTS=FOLDER), to see what was measured."""
        from PIL import Image
        data = b"".join(self.grab(0, y, WIDTH, min(256, HEIGHT - y)) for y in range(0, HEIGHT, 256))
        Image.frombytes("RGB", (WIDTH, HEIGHT), data, "raw", "BGRX").save(path)

    def pointer(self, x, y):
        xtest.fake_input(self.d, X.MotionNotify, x=x, y=y)
        self.d.sync()

    def wheel(self, button=5):
        xtest.fake_input(self.d, X.ButtonPress, button)
        xtest.fake_input(self.d, X.ButtonRelease, button)
        self.d.sync()

    def key(self, name):
        code = self.d.keysym_to_keycode(XK.string_to_keysym(name))
        xtest.fake_input(self.d, X.KeyPress, code)
        xtest.fake_input(self.d, X.KeyRelease, code)
        self.d.sync()

    def settle(self, since, limit_s, away_from=None, quiet_s=QUIET_S):
        """The time of the screen's last change after `since`, once it has stayed the same for
        quiet_s (and differs from the checksum `away_from`, the empty screen), or None when it
        kept changing for limit_s."""
        last_sum, last_change = (self.whole() if away_from is None else away_from), since
        while now() - since < limit_s:
            s = self.whole()
            t = now()
            if s != last_sum:
                last_sum, last_change = s, t
            elif t - last_change >= quiet_s and s != away_from:
                return last_change - since
            time.sleep(0.005)
        return None


# --------------------------------------------------------------------------------------------

def command_for(program, path, folder):
    if program == "pictarre":
        # A picture on the command line opens its folder's gallery in rows (the toolbar's
        # second button), the layout that compares with the peers' grids of thumbnails.
        first = sorted(n for n in os.listdir(folder) if n.lower().endswith(".jpg"))[0]
        return [path, os.path.join(folder, first)]
    if program == "gthumb":
        return ["gthumb", folder]
    if program == "geeqie":
        return ["geeqie", folder]
    raise ValueError(program)


# geeqie starts with a list of names and one picture; its icon view with thumbnails is what
# compares with a gallery.
GEEQIE_RC = """<?xml version="1.0" encoding="UTF-8"?>
<gq>
<global thumbnails.enabled = "true" thumbnails.enable_caching = "true" />
<layout id = "main" style = "0" order = "123" dir_view_type = "0" file_view_type = "1"
        show_thumbnails = "true" show_marks = "false" />
</gq>
"""


def prepare_home(program, home):
    if program == "geeqie" and not os.path.exists(home + "/.config/geeqie/geeqierc.xml"):
        os.makedirs(home + "/.config/geeqie", exist_ok=True)
        with open(home + "/.config/geeqie/geeqierc.xml", "w") as f:
            f.write(GEEQIE_RC)


def home_env(home, disp):
    env = dict(os.environ)
    env.update({
        "HOME": home, "XDG_CONFIG_HOME": home + "/.config", "XDG_CACHE_HOME": home + "/.cache",
        "XDG_DATA_HOME": home + "/.local/share", "DISPLAY": disp, "LANG": "C.UTF-8",
        "NO_AT_BRIDGE": "1", "GTK_A11Y": "none",
        # Pictarre refuses to start as root unless the engine's sandbox is turned off by the user.
        "QTWEBENGINE_DISABLE_SANDBOX": "1",
    })
    env.pop("QT_QPA_PLATFORM", None)
    env.pop("WAYLAND_DISPLAY", None)
    return env


def fit_window(disp, pid, limit_s=20):
    """Makes the program's first visible window cover the screen."""
    deadline = now() + limit_s
    while now() < deadline:
        out = subprocess.run(["xdotool", "search", "--onlyvisible", "--pid", str(pid), "--name", "."],
                             env={"DISPLAY": disp, "PATH": os.environ["PATH"]}, capture_output=True, text=True)
        ids = out.stdout.split()
        if ids:
            for wid in ids:
                subprocess.run(["xdotool", "windowmove", wid, "0", "0", "windowsize", wid, str(WIDTH), str(HEIGHT),
                                "windowfocus", "--sync", wid], env={"DISPLAY": disp, "PATH": os.environ["PATH"]},
                               capture_output=True)
            return True
        time.sleep(0.02)
    return False


def started_in(home):
    """Every process whose environment names `home`: the program and whatever it started,
    also those that left its process tree (a GTK program handing over to a D-Bus service)."""
    mark = ("HOME=" + home).encode()
    found = []
    for name in os.listdir("/proc"):
        if name.isdigit():
            try:
                with open("/proc/%s/environ" % name, "rb") as f:
                    if mark in f.read().split(b"\0"):
                        found.append(int(name))
            except OSError:
                pass
    return found


def stop(proc, home):
    for sig, wait_s in ((signal.SIGTERM, 10), (signal.SIGKILL, 5)):
        for p in set(tree(proc.pid)) | set(started_in(home)):
            try:
                os.kill(p, sig)
            except OSError:
                pass
        deadline = now() + wait_s
        while now() < deadline and (proc.poll() is None or started_in(home)):
            time.sleep(0.1)
        if proc.poll() is not None and not started_in(home):
            break
    proc.wait()
    time.sleep(0.5)


def opening(screen, disp, program, path, folder, home, clicks, limit_s):
    """One start of the program on the folder: its figures."""
    fig = {}
    prepare_home(program, home)
    env = home_env(home, disp)
    screen.watched = WATCHED.get(program, (0, 0, 1, 1))
    empty = screen.whole()
    t0 = now()
    proc = subprocess.Popen(command_for(program, path, folder), env=env, stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL, start_new_session=True)
    memory = PeakPss(proc.pid)
    memory.start()
    try:
        if not fit_window(disp, proc.pid):
            fig["status"] = "nowindow"
            return fig
        first = screen.settle(t0, limit_s, away_from=empty, quiet_s=max(QUIET_S, 3.0))
        fig["first_screen_ms"] = round(first * 1000) if first is not None else -1
        if os.environ.get("SHOTS"):
            screen.save(os.path.join(os.environ["SHOTS"], "%s-%s-%s-start.png" % (
                program, os.path.basename(folder.rstrip("/")), "first" if clicks else "second")))
        area = AREAS[program]
        screen.pointer(int((area[0] + area[2]) / 2 * WIDTH), int((area[1] + area[3]) / 2 * HEIGHT))
        time.sleep(0.3)
        if clicks:
            lat = []
            pids = tree(proc.pid)
            c0 = cpu_seconds(pids)
            for _ in range(clicks):
                before = screen.strips(area)
                t = now()
                screen.wheel()
                while screen.strips(area) == before and now() - t < 2.0:
                    pass
                lat.append((now() - t) * 1000)
                screen.settle(now(), 5)
            fig["cpu_per_click_ms"] = round((cpu_seconds(tree(proc.pid)) - c0) * 1000 / clicks, 1)
            lat.sort()
            fig["wheel_median_ms"] = round(lat[len(lat) // 2], 1)
            fig["wheel_worst_ms"] = round(lat[-1], 1)
            fig["wheel_all_ms"] = ",".join("%.0f" % v for v in lat)
        t = now()
        screen.key("End")
        end = screen.settle(t, limit_s)
        fig["end_ms"] = round(end * 1000) if end is not None else -1
        if os.environ.get("SHOTS"):
            screen.save(os.path.join(os.environ["SHOTS"], "%s-%s-%s.png" % (
                program, os.path.basename(folder.rstrip("/")), "first" if clicks else "second")))
        fig["status"] = "ok" if proc.poll() is None else "exited"
        return fig
    finally:
        memory.stopped = True
        memory.join()
        fig["peak_pss_mb"] = round(memory.peak / 1024)
        fig["pss_parts_mb"] = ",".join("%s:%d" % (k, round(v / 1024)) for k, v in sorted(memory.parts.items()))
        stop(proc, home)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--build", action="append", default=[],
                    help="LABEL=PATH of a Pictarre build; again for another (default now=build/bench/src/app/pictarre)")
    ap.add_argument("--programs", default="pictarre,gthumb,geeqie")
    ap.add_argument("--clicks", type=int, default=12)
    ap.add_argument("--display", default=":97")
    ap.add_argument("--limit-s", type=float, default=60)
    ap.add_argument("--label", default="")
    ap.add_argument("--out", default="")
    ap.add_argument("folders", nargs="+")
    args = ap.parse_args()

    if os.path.exists("/tmp/.X11-unix/X" + args.display.lstrip(":")):
        sys.exit("display %s is taken; choose another with --display" % args.display)
    xvfb = subprocess.Popen(["Xvfb", args.display, "-screen", "0", "%dx%dx24" % (WIDTH, HEIGHT), "-nolisten", "tcp"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                screen = Screen(args.display)
                break
            except Exception:
                time.sleep(0.05)
        builds = [b.split("=", 1) for b in args.build] or [("now", "build/bench/src/app/pictarre")]
        programs = []
        for p in args.programs.split(","):
            if p == "pictarre":
                programs += [("pictarre", os.path.abspath(path), label) for label, path in builds]
            elif shutil.which(p):
                programs.append((p, p, p))
        for folder in args.folders:
            for program, path, label in programs:
                home = tempfile.mkdtemp(prefix="screenbench-%s-" % program)
                try:
                    first = opening(screen, args.display, program, path, folder, home, args.clicks, args.limit_s)
                    second = opening(screen, args.display, program, path, folder, home, 0, args.limit_s)
                finally:
                    shutil.rmtree(home, ignore_errors=True)
                line = "RESULT run=%s program=%s folder=%s %s second_first_screen_ms=%s second_end_ms=%s" % (
                    args.label or "-", label, os.path.basename(folder.rstrip("/")),
                    " ".join("%s=%s" % kv for kv in first.items()),
                    second.get("first_screen_ms"), second.get("end_ms"))
                print(line, flush=True)
                if args.out:
                    with open(args.out, "a") as f:
                        f.write(line + "\n")
    finally:
        xvfb.terminate()
        xvfb.wait()


if __name__ == "__main__":
    main()
