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
import sys
import time

import sni
from harness import Failure, Cases, log, wait_until
from sni import DARK, is_selectable, make_projects, wait_entry, wait_synced

BAR_HEIGHT = 30
SWAY_CONFIG = """xwayland disable
output * mode 1024x768
"""

WAYBAR_CONFIG = {"layer": "top", "position": "top", "height": BAR_HEIGHT,
                 "modules-left": [], "modules-center": [], "modules-right": ["tray"],
                 "tray": {"icon-size": 22, "spacing": 4}}
WAYBAR_STYLE = """* {{ border: none; border-radius: 0; min-height: 0; font-family: sans-serif; }}
window#waybar {{ background: {background}; color: #ffffff; }}
"""


class SwayWorld(sni.SniWorld):
    STAGED = True  # sway refuses root: the session runs as harness.SESSION_USER
    swaysock = None

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


# --------------------------------------------------------------------------------------------
# The cases

CASES = Cases(SwayWorld, deadline=120, needs_dbus=True, failures=sni.FAILURES,
              needed=("sway", "swaymsg", "waybar", "grim", "dbus-daemon", "convert"))


CASES.case(sni.case_item, name="wayland-item")
CASES.case(sni.glyph_case(DARK, "dark-bar"), name="wayland-glyph")


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
