#!/usr/bin/env python3
"""End-to-end tests of quillnest-bar as a StatusNotifierItem in waybar's tray in sway headless.

Sway, a private session bus and waybar on a dark bar, all run as an unprivileged user when the test
is root (sway refuses root), and the utility as a native Wayland client. The cases read the item
over D-Bus as a host does, send the events a host sends, and judge screenshots (`grim`), kept in
the work directory. harness.py runs the cases.
"""

import glob
import json
import os
import socket
import struct
import subprocess
import sys
import time

import sni
from harness import Failure, Cases, log, wait_until
from sni import DARK, is_selectable, make_projects, wait_entry, wait_synced

BAR_HEIGHT = 30
REST = (10, 740)  # where the cursor, drawn in screenshots, waits between clicks: off the bar
SWAY_CONFIG = """xwayland disable
output * mode 1024x768
"""

WAYBAR_CONFIG = {"layer": "top", "position": "top", "height": BAR_HEIGHT,
                 "modules-left": [], "modules-center": [], "modules-right": ["tray"],
                 "tray": {"icon-size": 22, "spacing": 4}}
WAYBAR_STYLE = """* {{ border: none; border-radius: 0; min-height: 0; font-family: sans-serif; }}
window#waybar {{ background: {background}; color: #ffffff; }}
"""


class VirtualPointer:
    """A pointer of sway's seat (zwlr_virtual_pointer_v1), made by speaking the Wayland protocol on
    the compositor's socket: without a pointer device the seat has no pointer, and waybar gets no
    clicks, not even those of `swaymsg seat - cursor`. The pointer lasts as long as the
    connection (close())."""

    def __init__(self, path):
        self.sock = socket.socket(socket.AF_UNIX)
        self.sock.connect(path)
        self.send(1, 1, 2)  # wl_display.get_registry: object 2
        wanted, name = b"zwlr_virtual_pointer_manager_v1\0", None
        for obj, op, body in self.roundtrip(3):
            if obj == 2 and op == 0 and body[8:8 + len(wanted)] == wanted:  # wl_registry.global
                name = struct.unpack_from("<I", body)[0]
        if name is None:
            raise Failure("sway offers no zwlr_virtual_pointer_manager_v1")
        padded = wanted + b"\0" * (-len(wanted) % 4)
        self.send(2, 0, name, len(wanted), padded, 1, 4)  # wl_registry.bind: manager 4
        self.send(4, 0, 0, 5)  # create_virtual_pointer(default seat): pointer 5
        self.roundtrip(6)
        log("virtual pointer made")

    def send(self, obj, op, *args):
        body = b"".join(a if isinstance(a, bytes) else struct.pack("<I", a) for a in args)
        self.sock.sendall(struct.pack("<II", obj, (8 + len(body)) << 16 | op) + body)

    def roundtrip(self, callback):
        """Sends wl_display.sync; returns the events up to its callback's "done"."""
        self.send(1, 0, callback)
        events = []
        while not events or events[-1][0] != callback:
            obj, size_op = struct.unpack("<II", self.sock.recv(8, socket.MSG_WAITALL))
            body = self.sock.recv(max(0, (size_op >> 16) - 8), socket.MSG_WAITALL)
            if obj == 1 and size_op & 0xffff == 0:  # wl_display.error
                raise Failure(f"Wayland error: {body!r}")
            events.append((obj, size_op & 0xffff, body))
        return events

    def move(self, x, y):
        """Moves to x, y of the 1024x768 output."""
        self.send(5, 1, int(time.monotonic() * 1000) & 0xffffffff, x, y, 1024, 768)
        self.send(5, 4)  # frame

    def click(self, x, y, button):
        """Clicks `button` (1 left, 3 right) at x, y."""
        self.move(x, y)
        for state in (1, 0):
            self.send(5, 2, int(time.monotonic() * 1000) & 0xffffffff,
                      {1: 0x110, 3: 0x111}[button], state)  # BTN_LEFT, BTN_RIGHT
            self.send(5, 4)

    def close(self):
        self.sock.close()


class SwayWorld(sni.SniWorld):
    STAGED = True  # sway refuses root: the session runs as harness.SESSION_USER
    swaysock = None
    pointer = None

    def session_env(self):
        env = super().session_env()
        if self.swaysock:
            env["SWAYSOCK"] = self.swaysock
        return env

    def start_host(self, background=DARK):
        """Sway headless, the session bus and waybar, its bar drawn in `background`; the case's
        files are handed to the session's user first (the tool's runs write the state file)."""
        with open(self.path("sway.conf"), "w") as f:
            f.write(SWAY_CONFIG)
        with open(self.path("waybar.json"), "w") as f:
            json.dump(WAYBAR_CONFIG, f)
        with open(self.path("waybar.css"), "w") as f:
            f.write(WAYBAR_STYLE.format(background=sni.hex_colour(background)))
        self.hand_to_session_user()
        self.start_bus()
        env = self.session_env()
        env.update({"WLR_BACKENDS": "headless", "WLR_RENDERER": "pixman",
                    "WLR_LIBINPUT_NO_DEVICES": "1"})
        self.spawn(["sway", "--config", self.path("sway.conf")], env=env, log_name="sway.log")

        def sockets():
            self.check_owned()
            ipc = glob.glob(os.path.join(self.runtime, "sway-ipc.*.sock"))
            displays = [p for p in glob.glob(os.path.join(self.runtime, "wayland-*"))
                        if not p.endswith(".lock")]
            return (ipc[0], os.path.basename(displays[0])) if ipc and displays else None
        self.swaysock, self.wayland = wait_until("sway's sockets", sockets, 30)
        wait_until("sway to answer", lambda: self.run("swaymsg", "-t", "get_outputs",
                                                      check=False), 20)
        log("sway on", self.wayland)
        self.spawn(["waybar", "--config", self.path("waybar.json"), "--style",
                    self.path("waybar.css")], log_name="waybar.log")
        self.wait_watcher()
        self.background = background

    def app_windows(self):
        """The utility's windows in sway's tree."""
        tree = json.loads(self.run("swaymsg", "-t", "get_tree"))
        found = []

        def walk(node):
            if node.get("pid") == self.app.pid or "quillnest" in str(node.get("app_id")):
                found.append({k: node.get(k) for k in ("name", "app_id", "pid", "rect")})
            for child in node.get("nodes", []) + node.get("floating_nodes", []):
                walk(child)
        walk(tree)
        return found

    def screenshot(self, label):
        self.shots += 1
        path = self.path(f"{self.shots:02d}-{label}.png")
        self.run("grim", path)
        return path

    def bar_area(self):
        return {"x": 0, "y": 0, "w": 1024, "h": BAR_HEIGHT}

    def click(self, box, button):
        if not self.pointer:
            self.pointer = VirtualPointer(os.path.join(self.runtime, self.wayland))
            time.sleep(0.5)  # for the clients to take the seat's new pointer
        # waybar opens its menu at the pointer: a click on the icon at its lower left corner
        # keeps the menu off the bar.
        self.pointer.click(box["x"] + (0 if box["y"] < BAR_HEIGHT else box["w"] // 2),
                           BAR_HEIGHT - 2 if box["y"] < BAR_HEIGHT else box["y"] + box["h"] // 2,
                           button)
        self.pointer.move(*REST)

    def host_menu(self):
        """waybar's open menu: the light pixels (GTK's menu on the dark desktop) between the bar
        and the cursor's resting place, when they make a box large enough."""
        shot = self.path("menu-look.png")
        self.run("grim", shot)
        out = subprocess.run(["convert", shot, "-crop", f"1024x{REST[1] - 10 - BAR_HEIGHT}+0+"
                              f"{BAR_HEIGHT}", "+repage", "-colorspace", "Gray", "-threshold",
                              "75%", "-trim", "-format", "%w %h %X %Y", "info:"],
                             capture_output=True, text=True).stdout
        w, h, x, y = map(int, out.split())
        return {"x": x, "y": BAR_HEIGHT + y, "w": w, "h": h} if w >= 60 and h >= 40 else None

    def pick(self, item, box, title):
        """Clicks `title` in waybar's menu, found by OCR (no keyboard reaches the menu)."""
        menu, shot, _ = self.open_menu(box)
        word = title.split()[0]
        for line in self.ocr(shot, menu, 6, tsv=True).splitlines()[1:]:
            fields = line.split("\t")
            if fields[-1] == word:
                x, y, w, h = (int(f) // 3 for f in fields[6:10])  # in the crop, scaled 3 times
                self.click({"x": menu["x"] + x, "y": menu["y"] + y, "w": w, "h": h}, 1)
                return time.monotonic()
        raise Failure(f"no {word!r} read in waybar's menu (see {shot})")


# --------------------------------------------------------------------------------------------
# The cases

CASES = Cases(SwayWorld, deadline=120, needs_dbus=True, failures=sni.FAILURES,
              needed=("sway", "swaymsg", "waybar", "grim", "dbus-daemon", "convert"))


CASES.case(sni.case_item, name="wayland-item")
CASES.case(sni.glyph_case(DARK, "dark-bar"), name="wayland-glyph")


# Escape never reaches waybar's menu in sway (the bar's popup gets no keyboard focus): every menu
# is dismissed with a click elsewhere. A left click shows the menu as a right click does.
CASES.case(sni.menu_live_case(escape=False), name="wayland-menu-live", deadline=90)


@CASES.case
def case_wayland_activate(world):
    """Activate, as a host sends it on a click, opens no window of the utility's own; nor does
    show-menu mode, which clicks the icon by itself a second after start."""
    make_projects(world)
    world.start_host()
    world.start_app({"QUILLNEST_SHOW_MENU": "1"})
    item = world.wait_item()
    _, box, _ = world.wait_shown("green")
    if world.app_windows():
        raise Failure(f"the utility has windows before any click: {world.app_windows()}")
    time.sleep(1.5)  # past the show-menu click
    item.activate(box["x"] + box["w"] // 2, box["y"] + box["h"] // 2)
    log("Activate sent")
    # A window comes within moments if at all; look a few times over a while.
    end = time.monotonic() + 4
    while time.monotonic() < end:
        windows = world.app_windows()
        if windows:
            time.sleep(1)  # let it draw, for the screenshot
            shot = world.screenshot("window-after-activate")
            raise Failure(f"Activate opened a window of the utility: {windows} (see {shot})")
        time.sleep(0.4)
    world.check_app_running()
    world.screenshot("after-activate")


@CASES.case
def case_wayland_sync(world):
    """A "clicked" event on "Sync now", as waybar sends it, runs the tool."""
    paths = make_projects(world, synced=False)
    tool_log = world.path("tool-invocations.jsonl")
    world.start_host()
    world.start_app({"QUILLNEST_STANDIN_LOG": tool_log})
    item = world.wait_item()
    world.wait_shown("gray")
    _, entry, _ = wait_entry(item, "Sync now")
    if not is_selectable(entry):
        raise Failure(f"\"Sync now\" cannot be picked: {entry['props']}")
    item.event(entry["id"], "clicked")
    log("clicked sent to entry", entry["id"])
    wait_synced(world, tool_log, paths)
    world.wait_shown("green")


if __name__ == "__main__":
    sys.exit(CASES.main(__doc__))
