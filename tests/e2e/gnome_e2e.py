#!/usr/bin/env python3
"""End-to-end tests of quillnest-bar as a StatusNotifierItem in GNOME Shell's top bar.

Xvfb, a private session bus, a second private bus where the shell looks for the system bus (it
gives up without one), and GNOME Shell on X11 with software rendering and the AppIndicator
extension, which is the StatusNotifierWatcher and draws the item in the top bar and its dbusmenu as
a shell menu. A small extension of the case's own switches the shell's unsafe mode on, so that
org.gnome.Shell.Eval answers: the cases read where the indicator is, whether it is shown and the
labels of its menu from the shell itself, and judge the dot from screenshots. harness.py runs them.
"""

import json
import os
import sys
import time

import sni
from harness import RECENT, SKIP, Cases, Failure, log, wait_until
from sni import DARK, PROJECTS, analyse_icon, make_projects, wait_synced

APPINDICATOR = "ubuntu-appindicators@ubuntu.com"
PROBE = "quillnest-e2e@quillnest.example"
PROBE_JS = "function init() {\n    return {enable() { global.context.unsafe_mode = true; }, " \
           "disable() {}};\n}\n"
STARTS = 10
TOP_BAR = (0, 0, 0)
EMPTY_BAR = {"x": 200, "y": 4, "w": 40, "h": 16}  # between "Activities" and the clock

# The indicator whose bus name holds the utility's pid, its box and its menu, or null.
INDICATOR_JS = """(() => {
    const Main = imports.ui.main;
    const found = Object.entries(Main.panel.statusArea).find(
        ([role]) => role.startsWith('appindicator-') && role.includes('StatusNotifierItem-%d-'));
    if (!found)
        return null;
    const box = actor => {
        const [x, y] = actor.get_transformed_position();
        return {x: Math.round(x), y: Math.round(y), w: Math.round(actor.width),
                h: Math.round(actor.height), shown: actor.visible && actor.is_mapped()};
    };
    const items = menu => menu._getMenuItems().map(item => Object.assign(box(item), {
        label: item.label ? item.label.get_text() : null, sensitive: item.sensitive,
        items: item.menu && item.menu._getMenuItems ? items(item.menu) : []}));
    const ind = found[1];
    return Object.assign(box(ind), {bar: Main.panel.height, open: ind.menu.isOpen,
                                    items: items(ind.menu)});
})()"""


class GnomeWorld(sni.SniWorld):
    system_bus = None

    def session_env(self):
        env = super().session_env()
        env.update({"XDG_SESSION_TYPE": "x11", "XDG_CURRENT_DESKTOP": "GNOME",
                    "LIBGL_ALWAYS_SOFTWARE": "1"})
        if self.system_bus:
            env["DBUS_SYSTEM_BUS_ADDRESS"] = self.system_bus
        return env

    def start_host(self, background=DARK):
        """GNOME Shell on Xvfb with the AppIndicator extension and the probe, out of the overview
        it starts in; its settings go through dconf on the session bus into the case's home. The
        top bar's colour is the theme's: `background` is not used."""
        if not os.path.isdir("/usr/share/gnome-shell/extensions/" + APPINDICATOR):
            print("skipped: not installed: gnome-shell-extension-appindicator")
            sys.exit(SKIP)  # the world is cleaned up on the way out
        self.start_xvfb()
        self.start_bus()  # the stand-in system bus: nothing answers there
        self.system_bus = self.bus_address
        self.start_bus()
        probe = os.path.join(self.home, ".local/share/gnome-shell/extensions", PROBE)
        os.makedirs(probe)
        with open(os.path.join(probe, "metadata.json"), "w") as f:
            json.dump({"uuid": PROBE, "name": "probe", "description": "Eval for the tests",
                       "shell-version": ["43", "44", "45"]}, f)
        with open(os.path.join(probe, "extension.js"), "w") as f:
            f.write(PROBE_JS)
        for schema, key, value in (
                ("org.gnome.shell", "disable-user-extensions", "false"),
                ("org.gnome.shell", "enabled-extensions", str([APPINDICATOR, PROBE])),
                ("org.gnome.shell", "welcome-dialog-last-shown-version", "'999'"),
                # "Logged in as a privileged user" would cover the top bar when run as root.
                ("org.gnome.desktop.notifications", "show-banners", "false")):
            self.run("gsettings", "set", schema, key, value)
        started = time.monotonic()
        self.spawn(["gnome-shell", "--x11", "--replace"], log_name="gnome-shell.log")

        def answers():
            self.check_owned()
            try:
                return self.bus.name_has_owner("org.gnome.Shell") and self.eval(
                    "!imports.ui.main.layoutManager._startingUp")
            except sni.FAILURES:  # the name is there a moment before the object
                return False
        wait_until("the shell to answer Eval (the probe extension)", answers, 60)
        self.x("xdotool", "key", "Escape")  # out of the overview, as a user leaves it
        wait_until("the overview to close", lambda: not self.eval(
            "imports.ui.main.overview.visible || imports.ui.main.overview.animationInProgress"),
            10)
        self.background = TOP_BAR
        self.wait_watcher()
        log(f"GNOME Shell ready after {time.monotonic() - started:.1f} s")

    def eval(self, js):
        shell = self.bus.get_object("org.gnome.Shell", "/org/gnome/Shell", introspect=False)
        ok, result = shell.Eval(js, dbus_interface="org.gnome.Shell", timeout=10)
        if not ok:
            raise Failure(f"the shell could not evaluate {js[:60]!r}: {result}")
        return json.loads(result) if result else None

    def indicator(self, needed=True):
        """The utility's indicator as the shell has it; None when it has none and none is
        `needed`."""
        ind = self.eval(INDICATOR_JS % self.app.pid)
        if needed and not ind:
            raise Failure("the shell has no indicator of the utility (any more)")
        return ind

    def bar_area(self):
        """The indicator's box when it is shown in the top bar, else an empty stretch of it."""
        ind = self.indicator(needed=False)
        shown = ind and ind["shown"] and ind["w"] > 0 and ind["y"] + ind["h"] <= ind["bar"]
        return ind if shown else EMPTY_BAR

    def dot(self, label):
        """The colour of the dot the top bar shows now, judged from a screenshot."""
        found = self.find_icon(self.screenshot(label))[1]
        return found and analyse_icon(found[1], self.background)[0]


# --------------------------------------------------------------------------------------------
# The cases

CASES = Cases(GnomeWorld, deadline=120, needs_dbus=True, failures=sni.FAILURES, needed=(
    "Xvfb", "gnome-shell", "gsettings", "dbus-daemon", "xdotool", "xwininfo", "import",
    "convert"))


@CASES.case
def case_gnome_item(world):
    """The icon is in the top bar with its green dot 3 s after every one of ten starts."""
    make_projects(world)
    world.start_host()
    seen = ""
    for start in range(1, STARTS + 1):
        world.start_app()
        time.sleep(3)
        world.check_app_running()
        dot = world.dot(f"start-{start}")
        seen += "X" if dot == "green" else "."
        log(f"start {start}: 3 s after it the top bar shows {dot and f'a {dot} dot' or 'no icon'}")
        pid = world.app.pid
        world.stop_app()
        wait_until("the indicator to leave the top bar", lambda: not world.eval(
            "Object.keys(imports.ui.main.panel.statusArea).some("
            f"r => r.includes('StatusNotifierItem-{pid}-'))"), 10)
    if "." in seen:
        raise Failure(f"the icon was in the top bar 3 s after {seen.count('X')} of {STARTS} "
                      f"starts ({seen}); see gnome-shell.log")


@CASES.case
def case_gnome_menu(world):
    """The shell's menu shows every project's name as written; "Sync now" chosen there runs
    the tool."""
    paths = make_projects(world, synced=False)
    tool_log = world.path("tool-invocations.jsonl")
    world.start_host()
    world.start_app({"QUILLNEST_STANDIN_LOG": tool_log})
    _, box, _ = world.wait_shown("gray")
    # The shell builds the menu's items, the projects' submenu too, when it shows the icon.
    ind = wait_until("the shell's menu to be built",
                     lambda: any(i["items"] for i in world.indicator()["items"])
                     and world.indicator(), 10)

    def flat(items):
        return [i for item in items for i in [item, *flat(item["items"])]]
    labels = [i["label"] for i in flat(ind["items"]) if i["label"]]
    log("the shell's menu shows:", labels)
    missing = [title for title in PROJECTS if title not in labels]
    if missing:
        raise Failure(f"the shell's menu does not show {missing} as written; it shows {labels}")

    world.click(box, 1)
    ind = wait_until("the shell's menu to open", lambda: (lambda i: i["open"] and all(
        item["shown"] for item in i["items"]) and i)(world.indicator()), 10)
    time.sleep(0.5)  # its opening animation
    world.screenshot("shell-menu")
    sync = next((i for i in ind["items"] if i["label"] == "Sync now"), None)
    if not sync or not sync["sensitive"]:
        raise Failure(f"no \"Sync now\" to choose in the shell's menu: {sync}")
    world.click(sync, 1)
    wait_until("the shell's menu to close", lambda: not world.indicator()["open"], 10)
    wait_synced(world, tool_log, paths)
    world.wait_shown("green")


@CASES.case
def case_gnome_live(world):
    """A state file changed behind the utility's back reaches the top bar within 2 s: the time is
    taken to the moment the shell sets the new image (the icon gets a new gicon), then the screen
    shows the red dot."""
    paths = make_projects(world)
    world.start_host()
    world.start_app()
    world.wait_shown("green")
    icon = ("Object.entries(imports.ui.main.panel.statusArea).find(([r]) => "
            f"r.includes('StatusNotifierItem-{world.app.pid}-'))[1]._icon")
    world.eval(f"{icon}.gicon._quillnestSeen = true")
    world.write_state({p: {"secrets": 1, "synced": RECENT} for p in paths})
    changed = time.monotonic()

    def new_image():
        seen = world.eval(f"(g => g ? !g._quillnestSeen : null)({icon}.gicon)")
        if seen is None:
            raise Failure("the shell has no image for the icon: the top bar shows its placeholder; "
                          "see gnome-shell.log")
        return seen
    try:
        wait_until("the shell to set a new image", new_image, 2, interval=0.05)
    except Failure as e:  # how late, if at all (no image at all fails here again at once)
        wait_until("the shell to set a new image at all", new_image, 75, interval=0.5)
        raise Failure(f"{e}; it came {time.monotonic() - changed:.1f} s after the change")
    log(f"the shell set a new image {time.monotonic() - changed:.2f} s after the state file "
        "changed")
    world.wait_shown("red", 2)
    log(f"the top bar showed the red dot {time.monotonic() - changed:.2f} s after it changed")


if __name__ == "__main__":
    sys.exit(CASES.main(__doc__))
