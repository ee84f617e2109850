"""What the StatusNotifierItem hosts' cases share: the item as a host sees it over D-Bus (the
watcher's list, the item's properties, the menu layout, the events a host sends), the icon found in
a screenshot of the host's panel and split into the status dot and the glyph, and the checks that
several hosts' cases make.
"""

import math
import os
import re
import subprocess
import time

import harness
from harness import RECENT, Failure, dbus, log, near, status_colour, wait_invocation, wait_until

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
PROPS = "org.freedesktop.DBus.Properties"

DARK, LIGHT = (0x2b, 0x2b, 0x2b), (0xee, 0xee, 0xee)
PROJECTS = ("my_project", "snake__case_2", "R&D <x>")
CREDIT = "Quillnest bar \u2014 quillnest.example"
MIN_CONTRAST = 3.0  # WCAG 2 for graphical objects
# A D-Bus error fails a case as a Failure does.
FAILURES = (dbus.DBusException,) if dbus else ()


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
# The world of a host that shows StatusNotifierItems


class SniWorld(harness.World):
    """A host of StatusNotifierItems on the case's private session bus. A subclass's
    start_host(background=DARK) starts the host, its panel drawn in `background` (R, G, B), which it
    keeps in self.background, and waits for it (wait_watcher); bar_area says where the panel is."""

    background = None

    def bar_area(self):
        """The panel or bar that holds the tray: absolute x, y, w, h."""
        raise NotImplementedError

    def host_menu(self):
        """The host's open menu (absolute x, y, w, h, its text inside), or None."""
        raise NotImplementedError

    def pick(self, item, box, title):
        """Opens the host's menu with a right click on the icon at `box` and picks the top-level
        entry `title`; returns the time.monotonic() of the pick, without waiting for the menu to
        close."""
        raise NotImplementedError

    def open_menu(self, box, button=3, how="right click"):
        """Clicks the icon with `button` and waits for the host's menu to read "Sync now" (it is
        drawn a moment after it is shown); returns the menu's box, the screenshot and the text."""
        self.click(box, button)
        menu = wait_until(f"the host's menu to open on a {how}", self.host_menu, 5)

        def judge(shot):
            text = re.sub(r"\s+", " ", self.ocr(shot, menu, 6))
            return "Sync now" in text and text, repr(text)
        text, shot = self.wait_screen("the host's menu to read \"Sync now\"", "host-menu", judge,
                                      8, interval=0.2)
        log(f"host's menu at {menu['x']},{menu['y']} {menu['w']}x{menu['h']} reads:", text,
            f"({os.path.basename(shot)})")
        return menu, shot, text

    def close_menu(self, escape):
        """Dismisses the host's menu with Escape or with a click elsewhere."""
        if escape:
            self.x("xdotool", "key", "Escape")
        else:
            self.click({"x": 500, "y": 600, "w": 0, "h": 0}, 1)
        wait_until("the host's menu to close", lambda: not self.host_menu(), 5)

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

        def judge(shot):
            drawn, found = self.find_icon(shot)
            if not near(drawn, self.background, 3):
                return None, f"a panel drawn in {hex_colour(drawn)}, not in the configured " \
                             f"{hex_colour(self.background)}"
            if not found:
                return None, "no icon"
            box, px = found
            dot, size, glyph = analyse_icon(px, self.background)
            return (box, glyph) if dot == colour else None, \
                f"an icon at {box} with a {dot} dot ({size} pixels)"
        (box, glyph), shot = self.wait_screen(f"the host to show the icon with a {colour} dot",
                                              f"icon-{colour}", judge, timeout)
        log(f"icon shown at {box['x']},{box['y']} {box['w']}x{box['h']} with a {colour} dot:",
            os.path.basename(shot))
        return shot, box, glyph


# --------------------------------------------------------------------------------------------
# Checks shared by the cases

def wait_entry(item, title):
    """The menu layout once it holds an entry that shows `title`, with that entry and its
    siblings."""
    def found():
        layout = item.layout()
        entry, siblings = find_entry(layout, title)
        return (layout, entry, siblings) if entry else None
    return wait_until(f"{title!r} in the menu", found, 15, interval=0.5)


# A host's menu opened one way and dismissed, then a new state: (how, the mouse button that opens
# it, the dot and the counts of every project after it, the start of the menu's status line then).
LIVE_ROUNDS = (("right click", 3, "red", {"secrets": 1}, "Found 3 password"),
               ("left click", 1, "yellow", {"warn": 1}, "Warnings: 3"))


def state_reaches_icon(world, item, paths, colour, counts, limit=2):
    """Writes a state with `counts` in every project; the item's IconPixmap and then the host's
    icon must show a `colour` dot within `limit` s. Returns the delay to IconPixmap's change."""
    def pixmap():  # as bytes, fetched in about 10 ms: the change is timed to that
        return item.obj.Get(ITEM, "IconPixmap", dbus_interface=PROPS, byte_arrays=True)
    before = pixmap()
    world.write_state({p: {**counts, "synced": RECENT} for p in paths})
    changed = time.monotonic()
    wait_until("IconPixmap to change", lambda: pixmap() != before, limit, interval=0.01)
    delay = time.monotonic() - changed
    log(f"IconPixmap changed {delay * 1000:.0f} ms after the state file")
    wait_until(f"a {colour} dot in IconPixmap", lambda: item.pixmap_dot() == colour, limit)
    world.wait_shown(colour, limit)
    return delay


def wait_watch_mark(item, picked, limit=1):
    """After "Watch for changes" was picked in the host's menu at `picked` (time.monotonic()): its
    check mark must be in the exported layout within `limit` s. Returns the delay."""
    wait_until("\"Watch for changes\" checked in the exported menu",
               lambda: find_entry(item.layout(), "Watch for changes")[0]["props"]
               .get("toggle-state") == 1, limit, interval=0.02)
    delay = time.monotonic() - picked
    log(f"\"Watch for changes\" checked {delay * 1000:.0f} ms after it was picked")
    return delay


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
    wait_invocation(tool_log, ["sync", "--all", "-q"])

    def synced():
        try:
            projects = world.read_state()["projects"]
        except (OSError, ValueError):
            return False
        return all(projects.get(p, {}).get("synced") for p in paths)
    wait_until("state.json to hold the new sync dates", synced, 30)
    log("the tool ran and wrote the sync dates")


# --------------------------------------------------------------------------------------------
# Cases that every host runs: a host's module registers them under its own names, e.g.
# CASES.case(sni.case_item, name="xfce-item").


def case_item(world):
    """The item registers with the host's watcher, with the right properties and titles, and the
    host shows its icon."""
    make_projects(world)
    world.start_host()
    world.start_app()
    item = world.wait_item()
    world.wait_shown("green")
    check_item(item)


def glyph_case(background, label):
    """A case: the glyph reads on the host's panel drawn in `background`, contrast of at least
    3:1; `label` names the zoomed screenshot of the icon."""
    def case(world):
        make_projects(world)
        world.start_host(background)
        world.start_app()
        world.wait_item()
        shot, box, glyph = world.wait_shown("green")
        check_glyph(world, shot, box, glyph, label)
    case.__doc__ = f"The glyph reads on a {label} panel: contrast of at least 3:1."
    return case


def menu_live_case(escape):
    """A case: the host's menu opened and dismissed (a right click, and Escape when `escape`, else
    a click elsewhere; a left click and a click elsewhere) holds nothing back: a new state reaches
    the icon within 2 s and the menu shown again reads it; "Watch for changes" picked there is
    checked in the exported menu within 1 s."""
    def case(world):
        paths = make_projects(world)
        world.start_host()
        world.start_app()
        item = world.wait_item()
        _, box, _ = world.wait_shown("green")
        delays = []
        for how, button, colour, counts, status in LIVE_ROUNDS:
            world.open_menu(box, button, how)
            world.close_menu(escape and button == 3)
            delays.append(state_reaches_icon(world, item, paths, colour, counts))
            text = world.open_menu(box)[2]
            if status not in text:
                raise Failure(f"the host's menu shown again reads {text!r}, not {status!r}")
            world.close_menu(escape)
        log("delays from the state file to IconPixmap (ms):", [round(d * 1000) for d in delays])
        wait_watch_mark(item, world.pick(item, box, "Watch for changes"))
        wait_until("the host's menu to close", lambda: not world.host_menu(), 5)
    case.__doc__ = menu_live_case.__doc__
    return case
