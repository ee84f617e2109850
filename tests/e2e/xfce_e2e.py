#!/usr/bin/env python3
"""End-to-end tests of quillnest-bar as a StatusNotifierItem in xfce4-panel on X11.

Xvfb, a private session bus and xfce4-panel with one panel holding the status tray plugin, which is
the StatusNotifierWatcher and the host at once: it draws the icon from the item's IconPixmap and
shows the item's dbusmenu tree as its own GTK menu. The cases read the item over D-Bus as a host
does, click the icon, and judge screenshots (ImageMagick's `import`), kept in the work directory.
harness.py runs the cases and ends what the bus and the panel start by themselves (xfconfd, the
panel's plugin process).
"""

import os
import signal
import sys
import time

import sni
from harness import Failure, Cases, log, processes, wait_invocation, wait_until
from sni import DARK, LIGHT, is_selectable, make_projects, wait_entry, wait_synced

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


class XfceWorld(sni.SniWorld):
    panel = None  # the panel window's geometry, once it is shown

    def start_host(self, background=DARK):
        """xfce4-panel on Xvfb, its panel drawn in `background`."""
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

    def pick(self, item, box, title):
        layout, entry, siblings = wait_entry(item, title)
        if siblings is not layout["children"]:
            raise Failure(f"{title!r} is not in the top level of the menu")
        # A GTK menu's first Down lands on its first item that can be picked.
        downs = [e for e in layout["children"] if is_selectable(e)].index(entry) + 1
        self.open_menu(box)
        self.x("xdotool", "key", "--delay", "120", *["Down"] * downs)
        self.screenshot("highlighted")
        self.x("xdotool", "key", "Return")
        return time.monotonic()

    def bar_area(self):
        return self.panel


# --------------------------------------------------------------------------------------------
# The cases

CASES = Cases(XfceWorld, deadline=120, needs_dbus=True, failures=sni.FAILURES, needed=(
    "Xvfb", "xfce4-panel", "dbus-daemon", "xdotool", "xwininfo", "import", "convert",
    "tesseract"))


CASES.case(sni.case_item, name="xfce-item")


@CASES.case
def case_xfce_menu_sync(world):
    """A right click on the icon opens the panel's own menu; "Sync now" picked there runs the
    tool."""
    paths = make_projects(world, synced=False)
    tool_log = world.path("tool-invocations.jsonl")
    world.start_host()
    world.start_app({"QUILLNEST_STANDIN_LOG": tool_log})
    item = world.wait_item()
    _, box, _ = world.wait_shown("gray")
    world.pick(item, box, "Sync now")
    wait_synced(world, tool_log, paths)
    world.wait_shown("green")


def killed_case(victim):
    """The X server (Qt leaves through exit()) or the utility (SIGKILL: nothing of it runs) killed
    while the watch runs and a folder waits for a running sync: the watch ends, and the folder,
    held by a standby process from when it was chosen, is added once the sync has ended."""
    def case(world):
        tool_log = world.path("tool-invocations.jsonl")
        folder = world.project("chosen & <new>")
        world.write_state({})
        world.start_host()
        world.start_app({"QUILLNEST_STANDIN_DELAY_MS": "8000", "QUILLNEST_STANDIN_LOG": tool_log})
        item = world.wait_item()
        click = lambda title: item.event(int(wait_entry(item, title)[1]["id"]), "clicked")
        click("Watch for changes")
        watch = wait_until("the watch process", lambda: world.runs_of("watch"), 10)[0][0]
        click("Add project folder\u2026")  # the chooser runs the event loop: the bus is heard
        time.sleep(2)
        click("Sync now")
        wait_invocation(tool_log, ["sync", "--all", "-q"])
        world.x("xdotool", "type", "--delay", "30", folder)
        for _ in range(3):  # the first Return may only close the completer's list
            world.x("xdotool", "key", "Return")
            time.sleep(1)
            if not world.tree_windows(lambda w: w["name"].startswith("Choose a project")):
                break
        standby = wait_until("the standby process", lambda: [
            pid for pid, ppid, _, argv, _ in processes()
            if ppid == os.getpid() and argv[:1] == ["quillnest-bar: adding folders"]], 10)[0]
        # Xvfb is the first process of the world.
        os.kill(world.owned[0].pid if victim == "x" else world.app.pid, signal.SIGKILL)
        world.app.wait(20)
        if "handed over" not in world.app_output():
            raise Failure("the utility handed no folder over:\n" + world.app_output())
        wait_until("the watch process to end", lambda: world.reap(watch), 10)
        wait_until("the folder in state.json", lambda: folder in world.read_state()["projects"],
                   40)
        wait_until("the standby to end", lambda: world.reap(standby), 20)
        wait_until("no tool run left behind",
                   lambda: not any(world.runs_of(c) for c in ("watch", "sync", "init")), 20)
    return case


CASES.case(killed_case("x"), name="x-server-killed", deadline=150)
CASES.case(killed_case("utility"), name="utility-killed", deadline=150)


# menu-is-primary is off, yet a left click shows the panel's menu too: the item says ItemIsMenu.
CASES.case(sni.menu_live_case(escape=True), name="xfce-menu-live", deadline=90)
CASES.case(sni.glyph_case(DARK, "dark"), name="xfce-glyph-dark")
CASES.case(sni.glyph_case(LIGHT, "light"), name="xfce-glyph-light")


if __name__ == "__main__":
    sys.exit(CASES.main(__doc__))
