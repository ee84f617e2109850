#!/usr/bin/env python3
"""Screenshots of quillnest-bar in the three kinds of tray host, for the README.

The hosts run headless as in the end-to-end tests, whose worlds this uses:
  host-xembed.png  trayer on Xvfb (XEmbed): the utility's own menu, opened with a left click;
  host-xfce.png    xfce4-panel on Xvfb, dark (StatusNotifierItem): the panel's menu, opened with a
                   right click, and its "Open master file" submenu;
  host-waybar.png  waybar in sway headless, dark: the bar with the icon, and waybar's menu when a
                   right click of the seat's cursor opens it.
The utility shows three projects that the stand-in tool has set up, synced and checked; one of them
has a password in its rules, so the dot is red. Each picture is cropped to the panel and the menu.

Usage: host_screenshots.py --app PATH --tool PATH --out DIR [--workdir DIR]
Run it with a python3 that has the dbus module (Debian's /usr/bin/python3 with python3-dbus).
"""

import argparse
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import harness
import sni
from harness import Failure, log, wait_until
from wayland_e2e import BAR_HEIGHT, SwayWorld, VirtualPointer
from xembed_e2e import TrayerWorld
from xfce_e2e import XfceWorld

RULES = {
    "my_project": {"style.md": "# Style\n\nIndent with four spaces.\n",
                   "review.md": "# Review\n\nEvery change gets one approval.\n"},
    "snake__case_2": {"testing.md": "# Testing\n\nRun the unit tests before every push.\n"},
    "R&D <x>": {"deploy.md": "# Deploy\n\nStaging: ssh deploy@staging\npassword = hunter2\n"},
}
MARGIN = 12


def make_state(world):
    """The three projects, registered, synced and checked by the stand-in tool."""
    for name, rules in RULES.items():
        world.tool("init", world.project(name, rules), "--sync", "-q")
    world.tool("check", "--all", "-q")
    time.sleep(2)  # so that the dates read as past times, not as "in 0 seconds"


def desktop(world):
    """Paints the X root window in the grey of sway's desktop, instead of Xvfb's black."""
    # `display` exits with status 1 after painting the root window.
    world.x("display", "-window", "root", "xc:#3f3f3f", check=False)


def crop(shot, boxes, out, screen=(1024, 768)):
    """Writes the part of `shot` that holds every box in `boxes`, with a margin."""
    x0 = max(0, min(b["x"] for b in boxes) - MARGIN)
    y0 = max(0, min(b["y"] for b in boxes) - MARGIN)
    x1 = min(screen[0], max(b["x"] + b["w"] for b in boxes) + MARGIN)
    y1 = min(screen[1], max(b["y"] + b["h"] for b in boxes) + MARGIN)
    subprocess.run(["convert", shot, "-crop", f"{x1 - x0}x{y1 - y0}+{x0}+{y0}", "+repage", out],
                   check=True)
    log("wrote", out, f"{x1 - x0}x{y1 - y0}")


def xembed(world, out):
    make_state(world)
    world.start_host()
    desktop(world)
    world.start_app()
    world.wait_dot("red", 30)
    menu = world.open_menu()
    time.sleep(0.5)
    shot = world.screenshot("menu")
    panel = world.tree_windows(lambda w: w["name"] == "panel")[0]
    crop(shot, [panel, menu], out)


def xfce(world, out):
    make_state(world)
    world.start_host(sni.DARK)
    desktop(world)
    world.start_app()
    item = world.wait_item()
    _, icon, _ = world.wait_shown("red")
    layout, entry, _ = sni.wait_entry(item, "Open master file")
    downs = [e for e in layout["children"] if sni.is_selectable(e)].index(entry) + 1
    world.open_menu(icon)
    world.x("xdotool", "key", "--delay", "120", *["Down"] * downs, "Right")

    def submenu_open():
        menus = world.host_menus()
        return menus if len(menus) >= 2 else None
    menus = wait_until("the submenu to open", submenu_open, 10)
    time.sleep(0.5)
    shot = world.screenshot("submenu")
    crop(shot, [icon, {**world.panel, "x": icon["x"], "w": icon["w"]}, *menus], out)


def changed_area(before, after):
    """The box around every pixel that differs between two screenshots, or None."""
    geometry = subprocess.run(["convert", before, after, "-compose", "difference", "-composite",
                               "-threshold", "0", "-format", "%@", "info:"],
                              capture_output=True, check=True, text=True).stdout
    m = re.match(r"(\d+)x(\d+)\+(\d+)\+(\d+)", geometry)
    w, h, x, y = map(int, m.groups()) if m else (0, 0, 0, 0)
    return {"x": x, "y": y, "w": w, "h": h} if w > 1 and h > 1 else None


def waybar(world, out):
    make_state(world)
    world.start_host()
    world.start_app()
    world.wait_item()
    _, icon, _ = world.wait_shown("red")
    pointer = VirtualPointer(os.path.join(world.runtime, world.wayland))
    # Waybar opens its menu at the pointer: a click at the icon's lower left corner keeps the
    # menu off the icon.
    world.run("swaymsg", "seat", "-", "cursor", "set", str(icon["x"]),
              str(BAR_HEIGHT - 2))
    time.sleep(0.5)
    before = world.screenshot("before")
    world.run("swaymsg", "seat", "-", "cursor", "press", "button3")
    world.run("swaymsg", "seat", "-", "cursor", "release", "button3")
    last = {}

    def settled():
        area = changed_area(before, world.screenshot("menu"))
        same = area if area and area["h"] > 40 and area == last.get("area") else None
        last["area"] = area
        return same
    menu = wait_until("waybar's menu to open", settled, 15, interval=0.5)
    # Off the menu and out of the picture: the cursor is drawn into the screenshot.
    world.run("swaymsg", "seat", "-", "cursor", "set", "10", "700")
    time.sleep(0.5)
    shot = world.screenshot("menu")
    pointer.close()
    crop(shot, [icon, {**world.bar_area(), "x": icon["x"], "w": icon["w"]}, menu], out)


SCENES = {"host-xembed.png": (TrayerWorld, xembed),
          "host-xfce.png": (XfceWorld, xfce),
          "host-waybar.png": (SwayWorld, waybar)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--app", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--workdir", help="where the hosts' logs and screenshots are kept "
                        "(default: a temporary directory, removed at the end)")
    parser.add_argument("--only", choices=sorted(SCENES), action="append")
    args = parser.parse_args()
    if harness.dbus is None:
        sys.exit(f"{sys.executable} has no dbus module (python3-dbus)")
    os.makedirs(args.out, exist_ok=True)
    # The Wayland session runs as an unprivileged user, who must reach its world's directory.
    work = args.workdir or tempfile.mkdtemp(prefix="qn-shots-")
    os.makedirs(work, exist_ok=True)
    os.chmod(work, 0o755)
    harness.become_subreaper()
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("stopped"))

    failed = []
    for name, (kind, scene) in SCENES.items():
        if args.only and name not in args.only:
            continue
        world = kind(argparse.Namespace(app=args.app, tool=args.tool,
                                        workdir=os.path.join(work, name[:-4])))
        try:
            scene(world, os.path.abspath(os.path.join(args.out, name)))
        except Failure as e:
            print(f"{name}: {e}")
            failed.append(name)
        finally:
            world.cleanup()
    if not args.workdir and not failed:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
