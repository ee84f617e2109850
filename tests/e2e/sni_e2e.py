#!/usr/bin/env python3
"""End-to-end tests of quillnest-bar as a StatusNotifierItem in two real tray hosts.

xfce-* cases: Xvfb, a private session bus and xfce4-panel with one panel holding the status tray
plugin, which is the StatusNotifierWatcher and the host at once: it draws the icon from the item's
IconPixmap and shows the item's dbusmenu tree as its own GTK menu.
wayland-* cases: sway headless with waybar's tray on a dark bar, all run as an unprivileged user
(sway refuses root), and the utility as a native Wayland client.

The cases look at the item over D-Bus as a host does (the watcher's list, the item's properties,
the menu layout), send the events a host sends, click the icon where X allows it, and judge the
screen from screenshots (ImageMagick's `import` on X, `grim` on Wayland). Screenshots and logs stay
in the case's work directory.

Usage: sni_e2e.py CASE --app PATH --tool PATH --workdir DIR [--deadline N]
Exit status: 0 passed, 1 failed, 77 skipped (a program or module the test needs is missing).

Process hygiene is tray_e2e.py's, whose helpers this uses: the test is a child subreaper, and
every process of the case, also those that the bus and the hosts start by themselves (xfconfd,
the panel's plugin process), carries the case's state directory in its environment and is ended
on the way out.
"""

import argparse
import glob
import json
import math
import os
import pwd
import re
import shutil
import subprocess
import sys
import tempfile
import time

import tray_e2e
from tray_e2e import COLOURS, SKIP, Failure, die_with_parent, log, wait_until

try:
    import dbus
except ImportError:  # reported by main() as a skip
    dbus = None

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
PROPS = "org.freedesktop.DBus.Properties"

DARK, LIGHT = (0x2b, 0x2b, 0x2b), (0xee, 0xee, 0xee)
SESSION_USER = "quillnest-e2e"  # the unprivileged user of the Wayland session
BAR_HEIGHT = 30
PROJECTS = ("my_project", "snake__case_2", "R&D <x>")
CREDIT = "Quillnest bar \u2014 quillnest.example"
MIN_CONTRAST = 3.0  # WCAG 2 for graphical objects

NEEDED = {
    "xfce": ("Xvfb", "xfce4-panel", "dbus-daemon", "xdotool", "xwininfo", "import", "convert",
             "tesseract"),
    "wayland": ("sway", "swaymsg", "waybar", "grim", "dbus-daemon", "convert"),
}

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir={runtime}</listen>
  <auth>EXTERNAL</auth>
  <standard_session_servicedirs/>
  <policy context="default">
    <!-- The test itself may run as another user than the session. -->
    <allow user="{user}"/>
    <allow user="{me}"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""

# One panel along the top edge holding the status tray plugin, drawn in a solid colour
# (background-style 1). The plugin hosts StatusNotifierItems and owns the watcher's name itself.
PANEL_XML = """<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="p=6;x=0;y=0"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="length" type="uint" value="100"/>
      <property name="size" type="uint" value="32"/>
      <property name="background-style" type="uint" value="1"/>
      <property name="background-rgba" type="array">
{rgba}
      </property>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="systray">
      <property name="icon-size" type="int" value="22"/>
      <property name="hide-new-items" type="bool" value="false"/>
      <property name="menu-is-primary" type="bool" value="false"/>
    </property>
  </property>
</channel>
"""

SWAY_CONFIG = """xwayland disable
output * mode 1024x768
"""

WAYBAR_CONFIG = {"layer": "top", "position": "top", "height": BAR_HEIGHT,
                 "modules-left": [], "modules-center": [], "modules-right": ["tray"],
                 "tray": {"icon-size": 22, "spacing": 4}}
WAYBAR_STYLE = """* { border: none; border-radius: 0; min-height: 0; font-family: sans-serif; }
window#waybar { background: #2b2b2b; color: #ffffff; }
"""


# --------------------------------------------------------------------------------------------
# Colours


def luminance(rgb):
    def linear(c):
        c /= 255
        return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4
    r, g, b = (linear(c) for c in rgb)
    return 0.2126 * r + 0.7152 * g + 0.0722 * b


def contrast(a, b):
    """WCAG 2 contrast ratio of two sRGB colours."""
    la, lb = sorted((luminance(a), luminance(b)), reverse=True)
    return (la + 0.05) / (lb + 0.05)


def near(p, q, tolerance):
    return max(abs(a - b) for a, b in zip(p, q)) <= tolerance


def status_colour(p):
    """The name of the status colour `p` is (in either variant), or None."""
    for name, refs in COLOURS.items():
        if any(near(p, ref, 24) for ref in refs):
            return name
    return None


def hex_colour(rgb):
    return "#%02x%02x%02x" % tuple(rgb)


def analyse_icon(px, background):
    """Splits the pixels of an icon (rows of RGB, on `background`) into the status dot and the
    glyph. The dot is the largest patch of touching pixels in one status colour; the glyph is
    every pixel that is not background, outside the dot's disc and its anti-aliased rim. Returns
    the dot's colour (None when there is no patch of at least 12 pixels), the patch's size and the
    glyph's pixels."""
    h, w = len(px), len(px[0]) if px else 0
    names = [[status_colour(p) for p in row] for row in px]
    seen, dot = set(), []
    for y in range(h):
        for x in range(w):
            if not names[y][x] or (x, y) in seen:
                continue
            patch, todo = [], [(x, y)]
            seen.add((x, y))
            while todo:
                cx, cy = todo.pop()
                patch.append((cx, cy))
                for nx, ny in ((cx + 1, cy), (cx - 1, cy), (cx, cy + 1), (cx, cy - 1)):
                    if 0 <= nx < w and 0 <= ny < h and (nx, ny) not in seen \
                            and names[ny][nx] == names[y][x]:
                        seen.add((nx, ny))
                        todo.append((nx, ny))
            if len(patch) > len(dot):
                dot = patch
    colour = names[dot[0][1]][dot[0][0]] if len(dot) >= 12 else None
    centre, radius = None, 0
    if dot:
        xs, ys = [x for x, _ in dot], [y for _, y in dot]
        centre = ((min(xs) + max(xs)) / 2, (min(ys) + max(ys)) / 2)
        radius = max(max(xs) - min(xs), max(ys) - min(ys)) / 2 + 1.5
    glyph = [p for y, row in enumerate(px) for x, p in enumerate(row)
             if not near(p, background, 8)
             and not (centre and math.hypot(x - centre[0], y - centre[1]) <= radius)]
    return colour, len(dot), glyph


def glyph_contrast(glyph, background):
    """The glyph's contrast with the background: the ratio its ink reaches, taken as the 90th
    percentile over its pixels, so that anti-aliased edges and a stray pixel count for nothing.
    Returns the ratio and the colour that has it."""
    ranked = sorted((contrast(p, background), p) for p in glyph)
    return ranked[int(0.9 * (len(ranked) - 1))]


def shown_label(label):
    """The text a GTK host shows for a dbusmenu label: "__" is an underscore, a single "_" marks
    the mnemonic and is not shown."""
    return re.sub(r"_(_?)", lambda m: m.group(1), label)


# --------------------------------------------------------------------------------------------
# The item, as a host sees it over D-Bus


class Item:
    def __init__(self, bus, service, path):
        self.service, self.path = service, path
        self.obj = bus.get_object(service, path, introspect=False)
        self.bus = bus

    def properties(self):
        return self.obj.GetAll(ITEM, dbus_interface=PROPS, timeout=10)

    def pixmap(self):
        """The largest image of IconPixmap as rows of (R, G, B, A)."""
        images = self.obj.Get(ITEM, "IconPixmap", dbus_interface=PROPS, timeout=10)
        if not images:
            return None
        w, h, data = max(images, key=lambda i: int(i[0]) * int(i[1]))
        w, h, data = int(w), int(h), bytes(data)
        if len(data) != w * h * 4:
            raise Failure(f"IconPixmap {w}x{h} holds {len(data)} bytes")
        # ARGB32 in network byte order.
        return [[(data[i + 1], data[i + 2], data[i + 3], data[i])
                 for i in range((r * w) * 4, (r * w + w) * 4, 4)] for r in range(h)]

    def pixmap_dot(self):
        """The dot colour of IconPixmap, judged on its opaque pixels."""
        px = self.pixmap()
        if not px:
            return None
        rows = [[p[:3] if p[3] >= 200 else (0, 0, 0) for p in row] for row in px]
        return analyse_icon(rows, (0, 0, 0))[0]

    def menu(self):
        path = self.obj.Get(ITEM, "Menu", dbus_interface=PROPS, timeout=10)
        return self.bus.get_object(self.service, path, introspect=False)

    def layout(self):
        """The whole menu tree: nested dicts of id, properties and children."""
        _, root = self.menu().GetLayout(0, -1, dbus.Array([], signature="s"),
                                        dbus_interface=MENU, timeout=10)

        def node(n):
            return {"id": int(n[0]), "props": {str(k): v for k, v in n[1].items()},
                    "children": [node(c) for c in n[2]]}
        return node(root)

    def event(self, item_id, name):
        self.menu().Event(item_id, name, dbus.Int32(0, variant_level=1),
                          dbus.UInt32(int(time.time()) & 0xffffffff), signature="isvu",
                          dbus_interface=MENU, timeout=10)

    def activate(self, x, y):
        self.obj.Activate(x, y, signature="ii", dbus_interface=ITEM, timeout=10)


def entries(node):
    """Every menu entry below `node`, depth first: (entry, its siblings at that level)."""
    for child in node["children"]:
        yield child, node["children"]
        yield from entries(child)


def is_selectable(entry):
    p = entry["props"]
    return (p.get("type", "standard") != "separator" and bool(p.get("visible", True))
            and bool(p.get("enabled", True)))


def find_entry(layout, title):
    for entry, siblings in entries(layout):
        if shown_label(str(entry["props"].get("label", ""))) == title:
            return entry, siblings
    return None, None


# --------------------------------------------------------------------------------------------
# The case's world: the hosts, the utility, the bus


def reachable_by_others(path):
    """Whether every folder above `path` lets any user through (o+x)."""
    folder = os.path.dirname(os.path.abspath(path))
    while True:
        if not os.stat(folder).st_mode & 0o001:
            return False
        parent = os.path.dirname(folder)
        if parent == folder:
            return True
        folder = parent


def staged(args):
    """For a Wayland case run as root from a build tree that other users cannot reach (a clone in
    a private temporary folder): a copy of the utility, laid out as in the build tree so that it
    finds the stand-in tool, and a work folder, in a folder the session's user can reach. Returns
    the arguments to run with and the staging folder (None when nothing was staged)."""
    if os.geteuid() != 0 or not args.case.startswith("wayland") or all(
            reachable_by_others(p) for p in (args.app, args.tool, args.workdir)):
        return args, None
    stage = tempfile.mkdtemp(prefix="qn-e2e-stage-")
    os.chmod(stage, 0o755)
    app = os.path.join(stage, "bin", os.path.basename(args.app))
    tool = os.path.join(stage, "share", "quillnest-bar", "tool", "bin", "quillnest")
    for source, target in ((args.app, app), (args.tool, tool)):
        os.makedirs(os.path.dirname(target))
        shutil.copy2(source, target)
    return argparse.Namespace(**{**vars(args), "app": app, "tool": tool,
                                 "workdir": os.path.join(stage, "work")}), stage


class World(tray_e2e.World):
    def __init__(self, args):
        self.asked_workdir = os.path.abspath(args.workdir)
        args, self.stage = staged(args)
        super().__init__(args)
        # Bus and Wayland sockets live here: a short path, whatever the build directory's is.
        self.runtime = tempfile.mkdtemp(prefix="qn-e2e-")
        self.user = None  # pwd entry of the user the session runs as; None: this process's own
        self.bus_address = None
        self.bus = None
        self.wayland = None
        self.swaysock = None
        self.panel = None
        self.background = None

    def as_user(self):
        if self.user is None:
            return {}
        return {"user": self.user.pw_uid, "group": self.user.pw_gid, "extra_groups": []}

    def spawn(self, argv, env=None, log_name=None, pass_fds=()):
        with open(self.path(log_name or "other.log"), "ab") as out:
            proc = subprocess.Popen(argv, env=env or self.session_env(), stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, pass_fds=pass_fds,
                                    preexec_fn=die_with_parent, **self.as_user())
        self.owned.append(proc)
        return proc

    def run(self, *argv, check=True):
        """Runs a short command of the session (swaymsg, grim) as the session's user."""
        result = subprocess.run(list(argv), env=self.session_env(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=30, **self.as_user())
        if check and result.returncode != 0:
            raise Failure(f"{argv[0]} failed ({result.returncode}): "
                          f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode(errors="replace")

    def session_env(self):
        """The environment of every process of the session. QUILLNEST_HOME is the case's marker
        (World.ours): whatever the hosts and the bus start on their own inherits it."""
        env = {k: v for k, v in os.environ.items()
               if not k.startswith(("QUILLNEST_", "LC_", "QT_", "XDG_", "WAYLAND_", "WLR_"))
               and k not in ("DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "SWAYSOCK", "I3SOCK",
                             "SESSION_MANAGER", "DESKTOP_SESSION", "LANGUAGE", "HOME", "USER",
                             "LOGNAME")}
        env.update({"HOME": self.home, "XDG_CONFIG_HOME": os.path.join(self.home, ".config"),
                    "XDG_RUNTIME_DIR": self.runtime, "QUILLNEST_HOME": self.state,
                    "LANG": "C.UTF-8", "NO_AT_BRIDGE": "1"})
        if self.user:
            env.update({"USER": self.user.pw_name, "LOGNAME": self.user.pw_name})
        for name, value in (("DISPLAY", self.display), ("WAYLAND_DISPLAY", self.wayland),
                            ("SWAYSOCK", self.swaysock),
                            ("DBUS_SESSION_BUS_ADDRESS", self.bus_address)):
            if value:
                env[name] = value
        return env

    def xenv(self):
        return self.session_env()

    def app_env(self, extra=None):
        env = self.session_env()
        env.update({"QT_QPA_PLATFORM": "wayland" if self.wayland else "xcb",
                    "LANGUAGE": "en", "LC_ALL": "C.UTF-8"})
        env.update(extra or {})
        return env

    def tool(self, *args):
        result = subprocess.run([self.tool_path, *args], env=self.app_env(), capture_output=True,
                                timeout=60, **self.as_user())
        if result.returncode != 0:
            raise Failure(f"the stand-in tool failed: {args}: {result.stderr.decode()}")

    def cleanup(self):
        super().cleanup()
        if self.bus is not None:
            self.bus.close()
        shutil.rmtree(self.runtime, ignore_errors=True)
        if self.stage:
            # The screenshots and logs go where they were asked for.
            shutil.rmtree(self.asked_workdir, ignore_errors=True)
            try:
                shutil.copytree(self.dir, self.asked_workdir, symlinks=True)
            except shutil.Error as e:
                log("some of the work folder was not copied back:", e)
            shutil.rmtree(self.stage, ignore_errors=True)

    # ---- the bus

    def start_bus(self):
        config = self.path("bus.conf")
        me = pwd.getpwuid(os.geteuid()).pw_name
        with open(config, "w") as f:
            f.write(BUS_CONFIG.format(runtime=self.runtime, me=me,
                                      user=self.user.pw_name if self.user else me))
        read_end, write_end = os.pipe()
        self.spawn(["dbus-daemon", "--config-file=" + config, "--nofork", "--nopidfile",
                    f"--print-address={write_end}"], log_name="dbus.log", pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            self.bus_address = pipe.readline().strip()
        if not self.bus_address:
            raise Failure("dbus-daemon did not start; see dbus.log")
        self.bus = dbus.bus.BusConnection(self.bus_address)
        log("session bus at", self.bus_address)

    def wait_watcher(self):
        """Waits for the watcher and for a host registered with it: a program that starts earlier
        finds no tray (and may fall back to XEmbed)."""
        def hosted():
            if not self.bus.name_has_owner(WATCHER):
                return False
            watcher = self.bus.get_object(WATCHER, "/StatusNotifierWatcher", introspect=False)
            return bool(watcher.Get(WATCHER, "IsStatusNotifierHostRegistered",
                                    dbus_interface=PROPS, timeout=10))
        wait_until(f"{WATCHER} with a host registered", hosted, 30)

    def registered(self):
        watcher = self.bus.get_object(WATCHER, "/StatusNotifierWatcher", introspect=False)
        return [str(s) for s in watcher.Get(WATCHER, "RegisteredStatusNotifierItems",
                                            dbus_interface=PROPS, timeout=10)]

    def wait_item(self, timeout=30):
        """The utility's item, once the watcher lists it: the entry whose bus connection belongs
        to the utility's process."""
        daemon = self.bus.get_object("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                     introspect=False)

        def listed():
            self.check_app_running()
            for entry in self.registered():
                service, slash, path = entry.partition("/")
                try:
                    pid = daemon.GetConnectionUnixProcessID(
                        service, dbus_interface="org.freedesktop.DBus", timeout=10)
                except dbus.DBusException:
                    continue
                if pid == self.app.pid:
                    return entry, Item(self.bus, service, slash + path if slash
                                       else "/StatusNotifierItem")
            return None
        entry, item = wait_until("the utility's item in the watcher's list", listed, timeout,
                                 interval=0.3)
        log("registered item", entry)
        return item

    # ---- Xfce

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        self.spawn(["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                    "-nolisten", "tcp", "-noreset"], log_name="xvfb.log", pass_fds=(write_end,))
        os.close(write_end)
        with os.fdopen(read_end) as pipe:
            number = pipe.readline().strip()
        if not number:
            raise Failure("Xvfb did not start; see xvfb.log")
        self.display = ":" + number
        wait_until("the X server", lambda: self.x("xwininfo", "-root", check=False), 20)
        log("X server on", self.display)

    def start_xfce(self, background):
        self.start_xvfb()
        channel = os.path.join(self.home, ".config", "xfce4", "xfconf", "xfce-perchannel-xml")
        os.makedirs(channel, exist_ok=True)
        rgba = "\n".join(f'        <value type="double" value="{c / 255:.6f}"/>'
                         for c in (*background, 255))
        with open(os.path.join(channel, "xfce4-panel.xml"), "w") as f:
            f.write(PANEL_XML.format(rgba=rgba))
        self.background = background
        # xfconfd is started by the bus, so it reads the configuration of the bus's HOME.
        self.start_bus()
        # Without --disable-wm-check the panel first waits for a window manager that never comes.
        self.spawn(["xfce4-panel", "--disable-wm-check"], log_name="xfce4-panel.log")
        self.panel = wait_until("the panel", self.panel_window, 30)
        self.wait_watcher()
        log("panel at", self.panel["x"], self.panel["y"], f'{self.panel["w"]}x{self.panel["h"]}')

    def panel_window(self):
        for w in self.tree_windows(lambda w: '"Xfce4-panel"' in w["class"] and w["w"] >= 200):
            info = self.info(w["id"])
            if info and info["viewable"]:
                return info
        return None

    def host_menus(self):
        """The panel's open menus and submenus: viewable top-level windows of the panel's
        processes."""
        found = []
        for w in self.windows(False):
            if f'"{self.app_class}"' in w["class"] or w["id"] == self.panel["id"]:
                continue
            info = self.info(w["id"])
            if info and info["viewable"] and info["w"] >= 60 and info["h"] >= 40:
                found.append(info)
        return found

    def host_menu(self):
        """The panel's open menu, or None."""
        return next(iter(self.host_menus()), None)

    def read_menu(self, menu, label):
        """Waits until tesseract reads "Sync now" in the open menu (it is drawn a moment after
        it is mapped); returns the screenshot and the text."""
        seen = {}

        def reads():
            shot = self.screenshot(label)
            crop = self.path("ocr.png")
            subprocess.run(["convert", shot, "-crop",
                            f'{menu["w"]}x{menu["h"]}+{menu["x"]}+{menu["y"]}', "+repage",
                            "-colorspace", "Gray", "-resize", "300%", crop], check=True)
            out = subprocess.run(["tesseract", crop, "-", "--psm", "6"], capture_output=True,
                                 check=True).stdout.decode(errors="replace")
            os.remove(crop)
            seen["last"] = (shot, re.sub(r"\s+", " ", out))
            if "Sync now" in seen["last"][1]:
                return seen["last"]
            os.remove(shot)
            self.shots -= 1
            return None
        try:
            return wait_until("the panel's menu to read \"Sync now\"", reads, 8)
        except Failure as e:
            shot = self.screenshot(label)
            raise Failure(f"{e}; it read: {seen.get('last', (None, ''))[1]!r} (see {shot})")

    # ---- Wayland

    def session_user(self):
        """Sway refuses root: as root, the session runs as an unprivileged user made for it."""
        if os.geteuid() != 0:
            return None
        try:
            return pwd.getpwnam(SESSION_USER)
        except KeyError:
            subprocess.run(["useradd", "--system", "--user-group", "--no-create-home",
                            "--home-dir", "/nonexistent", "--shell", "/usr/sbin/nologin",
                            SESSION_USER], check=True, capture_output=True)
            log("made the user", SESSION_USER)
            return pwd.getpwnam(SESSION_USER)

    def start_sway(self):
        """Sway headless, the session bus and waybar; the case's files are handed to the session's
        user first (the utility's tool runs write the state file and the projects)."""
        self.user = self.session_user()
        with open(self.path("sway.conf"), "w") as f:
            f.write(SWAY_CONFIG)
        with open(self.path("waybar.json"), "w") as f:
            json.dump(WAYBAR_CONFIG, f)
        with open(self.path("waybar.css"), "w") as f:
            f.write(WAYBAR_STYLE)
        if self.user:
            os.chown(self.runtime, self.user.pw_uid, self.user.pw_gid)
            for top, dirs, files in os.walk(self.dir):
                for name in [top] + [os.path.join(top, n) for n in dirs + files]:
                    os.chown(name, self.user.pw_uid, self.user.pw_gid, follow_symlinks=False)
        probe = subprocess.run(["test", "-x", self.app_path, "-a", "-w", self.dir],
                               **self.as_user())
        if probe.returncode != 0:
            raise Failure(f"the session's user cannot run {self.app_path} or write {self.dir}")
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
        self.background = DARK

    def check_owned(self):
        for proc in self.owned:
            if proc is not self.app and proc.poll() is not None:
                raise Failure(f"{proc.args[0]} ended with status {proc.returncode}")

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

    # ---- screenshots

    def screenshot(self, label):
        if not self.wayland:
            return super().screenshot(label)
        self.shots += 1
        path = self.path(f"{self.shots:02d}-{label}.png")
        self.run("grim", path)
        return path

    def bar_area(self):
        if self.wayland:
            return {"x": 0, "y": 0, "w": 1024, "h": BAR_HEIGHT}
        return self.panel

    def find_icon(self, shot):
        """The icon in the panel or bar: the box of every pixel that is not the panel's colour (the
        tray holds our item alone). Returns the colour most of the panel is drawn in, and the
        box (absolute) with its pixels or None."""
        area = self.bar_area()
        px = self.pixels(shot, area["x"], area["y"], area["w"], area["h"])
        tally = {}
        for row in px:
            for p in row:
                tally[p] = tally.get(p, 0) + 1
        drawn = max(tally, key=tally.get)
        points = [(x, y) for y, row in enumerate(px) for x, p in enumerate(row)
                  if not near(p, drawn, 8)]
        if not points:
            return drawn, None
        x0, x1 = min(x for x, _ in points), max(x for x, _ in points)
        y0, y1 = min(y for _, y in points), max(y for _, y in points)
        box = {"x": area["x"] + x0, "y": area["y"] + y0, "w": x1 - x0 + 1, "h": y1 - y0 + 1}
        return drawn, (box, [row[x0:x1 + 1] for row in px[y0:y1 + 1]])

    def wait_shown(self, colour, timeout=30):
        """Waits for the panel, drawn in its configured colour, to show the icon with a dot of
        `colour`; returns the screenshot, the icon's box and the glyph's pixels."""
        if self.display:
            self.x("xdotool", "mousemove", "500", "600")  # no hover light on the icon
        seen = {"last": "nothing"}

        def shows():
            self.check_app_running()
            shot = self.screenshot(f"icon-{colour}")
            drawn, found = self.find_icon(shot)
            if not near(drawn, self.background, 3):
                seen["last"] = f"a panel drawn in {hex_colour(drawn)}, not in the configured " \
                               f"{hex_colour(self.background)}"
            elif not found:
                seen["last"] = "no icon"
            else:
                box, px = found
                dot, size, glyph = analyse_icon(px, self.background)
                seen["last"] = f"an icon at {box} with a {dot} dot ({size} pixels)"
                if dot == colour:
                    return shot, box, glyph
            os.remove(shot)
            self.shots -= 1
            return None
        try:
            shot, box, glyph = wait_until(f"the host to show the icon with a {colour} dot",
                                          shows, timeout, interval=0.5)
        except Failure as e:
            shot = self.screenshot(f"not-{colour}")
            raise Failure(f"{e}; last seen: {seen['last']} (see {shot})")
        log(f"icon shown at {box['x']},{box['y']} {box['w']}x{box['h']} with a {colour} dot:",
            os.path.basename(shot))
        return shot, box, glyph


# --------------------------------------------------------------------------------------------
# Checks shared by the cases

RECENT = tray_e2e.RECENT


def wait_entry(item, title):
    """The menu layout once it holds an entry that shows `title`, with that entry and its
    siblings."""
    def found():
        layout = item.layout()
        entry, siblings = find_entry(layout, title)
        return (layout, entry, siblings) if entry else None
    return wait_until(f"{title!r} in the menu", found, 15, interval=0.5)


def make_projects(world, synced=True):
    """The three project folders, registered with the stand-in tool: green, or gray when the
    sync dates are dropped again."""
    paths = [world.project(name) for name in PROJECTS]
    for path in paths:
        world.tool("init", path, "--sync")
    if not synced:
        state = world.read_state()
        for entry in state["projects"].values():
            entry.pop("synced", None)
        world.write_state(state["projects"])
    return paths


def check_item(item):
    """The item's properties as a host reads them, and the titles of its menu."""
    props = item.properties()
    log("item properties:", {str(k): ("..." if "Pixmap" in k or k == "ToolTip" else
                                      bool(v) if isinstance(v, dbus.Boolean) else str(v))
                             for k, v in props.items()})
    problems = []
    if not bool(props.get("ItemIsMenu", False)):
        problems.append("ItemIsMenu is not true, so a host activates the item on a left click "
                        "instead of showing its menu")
    if not str(props.get("Menu", "")).startswith("/") or str(props.get("Menu")) == "/":
        problems.append(f"Menu is {props.get('Menu')!r}")
    if not item.pixmap():
        problems.append("IconPixmap is empty")

    wanted = set(PROJECTS) | {CREDIT}

    def titles():
        layout = item.layout()
        shown = {shown_label(str(e["props"].get("label", ""))) for e, _ in entries(layout)}
        return layout if wanted <= shown else None
    try:
        layout = wait_until("the menu titles", titles, 10, interval=0.5)
    except Failure:
        layout = item.layout()
    raw = [str(e["props"]["label"]) for e, _ in entries(layout) if "label" in e["props"]]
    shown = [shown_label(label) for label in raw]
    log("menu labels (raw -> shown):", list(zip(raw, shown)))
    for title in PROJECTS + (CREDIT,):
        if title not in shown:
            problems.append(f"no menu entry shows {title!r}")
    if problems:
        raise Failure("; ".join(problems) + f"; labels as sent: {raw}")
    return layout


def check_glyph(world, shot, box, glyph, label):
    """The glyph's contrast with the panel, from the screenshot of the icon."""
    zoom = world.path(f"{world.shots:02d}-{label}-icon-x8.png")
    subprocess.run(["convert", shot, "-crop", f'{box["w"]}x{box["h"]}+{box["x"]}+{box["y"]}',
                    "+repage", "-scale", "800%", zoom], check=True)
    bg = world.background
    if len(glyph) < 12:
        raise Failure(f"only {len(glyph)} pixels of the glyph stand out from the panel "
                      f"{hex_colour(bg)} (see {zoom})")
    ratio, ink = glyph_contrast(glyph, bg)
    log(f"glyph on {hex_colour(bg)}: {len(glyph)} pixels, ink {hex_colour(ink)}, "
        f"contrast {ratio:.2f}:1 ({os.path.basename(zoom)})")
    if ratio < MIN_CONTRAST:
        raise Failure(f"the glyph's contrast with the panel {hex_colour(bg)} is {ratio:.2f}:1 "
                      f"(ink {hex_colour(ink)}), less than {MIN_CONTRAST:.0f}:1 (see {zoom})")


def wait_synced(world, tool_log, paths):
    tray_e2e.wait_invocation(world, tool_log, ["sync", "--all", "-q"])

    def synced():
        try:
            projects = world.read_state()["projects"]
        except (OSError, ValueError):
            return False
        return all(projects.get(p, {}).get("synced") for p in paths)
    wait_until("state.json to hold the new sync dates", synced, 30)
    log("the tool ran and wrote the sync dates")


# --------------------------------------------------------------------------------------------
# The cases


def case_xfce_item(world):
    """The item registers with the panel's watcher, with the right properties and titles, and
    the panel shows its icon."""
    make_projects(world)
    world.start_xfce(DARK)
    world.start_app()
    item = world.wait_item()
    world.wait_shown("green")
    check_item(item)


def case_xfce_menu_sync(world):
    """A right click on the icon opens the panel's own menu; "Sync now" picked there runs the
    tool."""
    paths = make_projects(world, synced=False)
    tool_log = world.path("tool-invocations.jsonl")
    world.start_xfce(DARK)
    world.start_app({"QUILLNEST_STANDIN_LOG": tool_log})
    item = world.wait_item()
    _, box, _ = world.wait_shown("gray")

    layout, entry, siblings = wait_entry(item, "Sync now")
    if siblings is not layout["children"]:
        raise Failure("\"Sync now\" is not in the top level of the menu")
    # A GTK menu's first Down lands on its first item that can be picked.
    downs = [e for e in layout["children"] if is_selectable(e)].index(entry) + 1

    world.x("xdotool", "mousemove", str(box["x"] + box["w"] // 2),
            str(box["y"] + box["h"] // 2), "click", "3")
    menu = wait_until("the panel's menu to open", world.host_menu, 15)
    shot, text = world.read_menu(menu, "panel-menu")
    log(f"panel menu at {menu['x']},{menu['y']} {menu['w']}x{menu['h']} reads:", text,
        f"({os.path.basename(shot)})")
    world.x("xdotool", "key", "--delay", "120", *["Down"] * downs)
    world.screenshot("sync-highlighted")
    world.x("xdotool", "key", "Return")
    wait_until("the panel's menu to close", lambda: not world.host_menu(), 10)
    wait_synced(world, tool_log, paths)
    world.wait_shown("green")


def glyph_case(background, label):
    def case(world):
        make_projects(world)
        world.start_xfce(background)
        world.start_app()
        world.wait_item()
        shot, box, glyph = world.wait_shown("green")
        check_glyph(world, shot, box, glyph, label)
    case.__doc__ = f"The glyph reads on a {label} panel: contrast of at least 3:1."
    return case


def case_xfce_opened_never_closed(world):
    """A host that says the menu opened and never says it closed does not freeze the icon: a
    new state still shows, in the item's IconPixmap and in the panel."""
    paths = make_projects(world)
    world.start_xfce(DARK)
    world.start_app()
    item = world.wait_item()
    wait_until("a green dot in IconPixmap", lambda: item.pixmap_dot() == "green", 30)
    world.wait_shown("green")

    item.event(0, "opened")
    world.write_state({p: {"secrets": 1, "synced": RECENT} for p in paths})
    changed = time.monotonic()
    log("menu marked open; state.json now red")
    wait_until("a red dot in IconPixmap while the menu counts as open",
               lambda: item.pixmap_dot() == "red", 75, interval=0.5)
    log(f"IconPixmap red {time.monotonic() - changed:.0f} s after the state changed")
    world.wait_shown("red", 15)


def case_wayland_item(world):
    """The item registers with waybar's watcher, with the right properties and titles, and the
    bar shows its icon."""
    make_projects(world)
    world.start_sway()
    world.start_app()
    item = world.wait_item()
    world.wait_shown("green")
    check_item(item)


def case_wayland_glyph(world):
    """The glyph reads on waybar's dark bar: contrast of at least 3:1."""
    make_projects(world)
    world.start_sway()
    world.start_app()
    world.wait_item()
    shot, box, glyph = world.wait_shown("green")
    check_glyph(world, shot, box, glyph, "dark-bar")


def case_wayland_activate(world):
    """Activate, as a host sends it on a click, opens no window of the utility's own; nor does
    show-menu mode, which clicks the icon by itself a second after start."""
    make_projects(world)
    world.start_sway()
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


def case_wayland_sync(world):
    """A "clicked" event on "Sync now", as waybar sends it, runs the tool."""
    paths = make_projects(world, synced=False)
    tool_log = world.path("tool-invocations.jsonl")
    world.start_sway()
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


CASES = {
    "xfce-item": case_xfce_item,
    "xfce-menu-sync": case_xfce_menu_sync,
    "xfce-glyph-dark": glyph_case(DARK, "dark"),
    "xfce-glyph-light": glyph_case(LIGHT, "light"),
    "xfce-opened-never-closed": case_xfce_opened_never_closed,
    "wayland-item": case_wayland_item,
    "wayland-glyph": case_wayland_glyph,
    "wayland-activate": case_wayland_activate,
    "wayland-sync": case_wayland_sync,
}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--app", required=True)
    parser.add_argument("--tool", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--deadline", type=float, default=150,
                        help="seconds after which the case gives up and cleans up")
    args = parser.parse_args()

    missing = [p for p in NEEDED[args.case.split("-")[0]] if not shutil.which(p)]
    if dbus is None:
        missing.append(f"the dbus module of {sys.executable} (python3-dbus)")
    if missing:
        print("skipped: not installed:", ", ".join(missing), "(scripts/install-deps.sh)")
        return SKIP
    for path in (args.app, args.tool):
        if not os.access(path, os.X_OK):
            print("missing executable:", path)
            return 1

    return tray_e2e.run_case(args, CASES, World, failures=(dbus.DBusException,))


if __name__ == "__main__":
    sys.exit(main())
