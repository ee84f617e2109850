#!/usr/bin/env python3
"""End-to-end tests of quillnest-bar in a real X11 system tray: trayer, an XEmbed tray host.

Every case runs the real utility in its own Xvfb and trayer, drives it like a user with xdotool (a
click on the docked icon, the keyboard in the open menu), and judges what the screen shows: pixels
of the status dot in screenshots (ImageMagick's `import`) and menu lines read back with tesseract.
Screenshots and logs stay in the case's work directory. harness.py runs the cases.
"""

import os
import re
import signal
import sys
import time

import harness
from harness import (COLOURS, RECENT, Failure, alive, log, status_colour, wait_ended,
                     wait_invocation, wait_until)


def normalise(text):
    text = text.replace("\u2026", "...").replace("\u2014", "-")
    text = re.sub(r"\s+", " ", text)
    return text.strip(" |_-~'\"`\u2018\u2019\u201c\u201d.,:;!")


class TrayerWorld(harness.World):
    """trayer on Xvfb; the utility finds no session bus and docks its icon through XEmbed."""

    def __init__(self, args):
        super().__init__(args)
        # No session bus: the icon goes through XEmbed, the protocol trayer speaks.
        self.bus_address = "unix:path=" + os.path.join(self.runtime, "no-bus")

    def start_host(self):
        """Xvfb and trayer."""
        self.start_xvfb()
        self.start_trayer()

    def start_trayer(self):
        trayer = self.spawn(["trayer", "--edge", "top", "--align", "right", "--widthtype",
                             "request", "--height", "24", "--transparent", "false",
                             "--SetDockType", "true", "--SetPartialStrut", "true", "--expand",
                             "true"], log_name="trayer.log")
        wait_until("the tray panel", lambda: self.tree_windows(lambda w: w["name"] == "panel"),
                   20)
        return trayer

    def ours_class(self, w):
        return f'"{self.app_class}"' in w["class"]

    def icon(self):
        """The utility's docked tray icon: its window below the tray's, viewable."""
        wins = self.windows(True)
        top = min((w["indent"] for w in wins), default=0)
        for w in wins:
            if self.ours_class(w) and w["indent"] > top and w["w"] <= 64 and w["h"] <= 64 \
                    and self.viewable(w["id"]):
                return w
        return None

    def popups(self):
        """The utility's visible top-level windows that are menus, with their current geometry."""
        found = []
        for w in self.windows(False):
            if self.ours_class(w):
                info = self.info(w["id"])
                if info and info["viewable"] and info["w"] >= 60 and info["h"] >= 40:
                    found.append(info)
        return found
    def wait_icon(self, timeout=30):
        def docked():
            self.check_app_running()
            return self.icon()
        icon = wait_until("the icon to dock in the tray", docked, timeout)
        log("icon docked at", icon["x"], icon["y"], f'{icon["w"]}x{icon["h"]}')
        return icon

    def dot_colour(self, shot, icon):
        """The status colour the icon's lower right quarter shows, with the pixel counts."""
        w, h = icon["w"], icon["h"]
        x0, y0 = w // 2, h // 2
        px = self.pixels(shot, icon["x"] + x0, icon["y"] + y0, w - x0, h - y0)
        counts = {name: 0 for name in COLOURS}
        for name in filter(None, (status_colour(p) for row in px for p in row)):
            counts[name] += 1
        best = max(counts, key=counts.get)
        others = sum(n for name, n in counts.items() if name != best)
        colour = best if counts[best] >= 12 and others <= 3 else None
        return colour, counts

    def wait_dot(self, colour, timeout):
        icon = self.wait_icon()
        # Keep the pointer (and the icon's tooltip) off the icon.
        self.x("xdotool", "mousemove", "10", "700")

        def judge(shot):
            got, counts = self.dot_colour(shot, icon)
            return got == colour, f"a {got} dot (pixel counts {counts})"
        _, shot = self.wait_screen(f"a {colour} dot", f"dot-{colour}", judge, timeout)
        log(f"dot is {colour}:", os.path.basename(shot))
        return icon

    def click_icon(self):
        icon = self.icon()
        if not icon:
            raise Failure("the icon is not docked")
        self.click(icon, 1)

    def wait_menu(self, timeout=15):
        """Waits for the menu to be shown and settled: the same geometry on two looks in a row (a
        window can be mapped before it has been moved to its place)."""
        last = {}

        def opened():
            self.check_app_running()
            found = self.popups()
            now = found[0] if len(found) == 1 else None
            settled = now if now and now == last.get("seen") else None
            last["seen"] = now
            return settled
        menu = wait_until("the menu to open", opened, timeout, interval=0.15)
        log("menu open at", menu["x"], menu["y"], f'{menu["w"]}x{menu["h"]}')
        return menu

    def wait_menu_closed(self, timeout=10):
        wait_until("the menu to close", lambda: not self.popups(), timeout)

    def open_menu(self):
        self.click_icon()
        return self.wait_menu()

    def key(self, *keys):
        self.x("xdotool", "key", "--delay", "120", *keys)

    # ---- reading the menu

    def menu_rows(self, shot, menu):
        """Splits the open menu into its item rows, top to bottom, without the separators:
        (top, bottom, highlighted) in menu coordinates."""
        inset = 3
        w, h = menu["w"] - 2 * inset, menu["h"] - 2 * inset
        px = self.pixels(shot, menu["x"] + inset, menu["y"] + inset, w, h)
        tally = {}
        for row in px:
            for p in row:
                tally[p] = tally.get(p, 0) + 1
        bg = max(tally, key=tally.get)
        ink = [sum(1 for p in row if sum(abs(a - b) for a, b in zip(p, bg)) > 60) for row in px]
        rows, start = [], None
        for y, n in enumerate(ink + [0]):
            if n and start is None:
                start = y
            elif not n and start is not None:
                height = y - start
                wide = sum(ink[start:y]) / height > 0.5 * w
                if height >= 5:
                    rows.append((start + inset, y + inset, wide))
                start = None
        return rows

    def read_rows(self, shot, menu, wanted):
        """OCR of the rows whose indices are in `wanted`; {index: text}."""
        rows = self.menu_rows(shot, menu)
        texts = {}
        for i in wanted:
            if i >= len(rows):
                texts[i] = ""
                continue
            top, bottom, highlighted = rows[i]
            pad = 4
            box = {"x": menu["x"] + 4, "y": menu["y"] + top - pad, "w": menu["w"] - 8,
                   "h": bottom - top + 2 * pad}
            texts[i] = normalise(self.ocr(shot, box, 7, *(["-negate"] if highlighted else [])))
        return texts, rows

    def expect_rows(self, menu, expected, label, highlight=None, timeout=10):
        """Checks the open menu's rows by OCR: `expected` maps a row index to a text that the row
        must equal, or to a pattern (a compiled regex) it must match; `highlight`, when given, is
        the index of the one highlighted row. Looks again until all holds or `timeout` passes
        (a key press is painted a little later); the last screenshot is kept."""
        end = time.monotonic() + timeout
        while True:
            shot = self.screenshot(label)
            texts, rows = self.read_rows(shot, menu, sorted(expected))
            lit = [i for i, row in enumerate(rows) if row[2]]
            problems = []
            for i, want in expected.items():
                got = texts[i]
                ok = want.search(got) if isinstance(want, re.Pattern) else got == normalise(want)
                if not ok:
                    problems.append(f"row {i} reads {got!r}, expected "
                                    f"{getattr(want, 'pattern', want)!r}")
            if highlight is not None and lit != [highlight]:
                problems.append(f"highlighted rows are {lit}, expected [{highlight}]")
            if not problems or time.monotonic() > end:
                break
            self.drop(shot)
            time.sleep(0.3)
        log(f"menu rows ({len(rows)}, highlighted {lit}) in {os.path.basename(shot)}:",
            {i: texts[i] for i in sorted(texts)})
        if problems:
            raise Failure("menu: " + "; ".join(problems) + f" (see {shot})")
        return texts, rows, shot

    def check_mark(self, shot, menu, rows, index):
        """Whether the check box at the left of row `index` holds a mark: dark pixels inside
        it (an empty box has a light rim only)."""
        top, bottom, highlighted = rows[index]
        if highlighted:
            raise Failure("check_mark needs a row that is not highlighted")
        px = self.pixels(shot, menu["x"] + 4, menu["y"] + top, 20, bottom - top)
        return sum(1 for row in px for p in row if sum(p) < 200) >= 4


# --------------------------------------------------------------------------------------------
# The cases

CASES = harness.Cases(TrayerWorld, deadline=200, needed=(
    "Xvfb", "trayer", "xdotool", "xwininfo", "import", "convert", "tesseract"))


@CASES.case
def case_tray(world):
    """The red dot in the tray, a left click opening the menu, its first lines."""
    alpha = world.project("alpha")
    beta = world.project("beta & gamma")
    world.write_state({
        alpha: {"secrets": 1, "warn": 0, "conflicts": 0, "synced": RECENT},
        beta: {"secrets": 1, "synced": RECENT},
        os.path.join(world.projects, "gone"): {"secrets": 5, "synced": RECENT},
    })
    world.start_host()
    world.start_app()
    world.wait_dot("red", 30)

    menu = world.open_menu()
    world.expect_rows(menu, {0: "Found 2 password(s)/key(s) in rules", 1: "Projects: 2",
                             2: re.compile(r"^Last sync: 3 hours ago$")}, "menu-open")
    world.key("Escape")
    world.wait_menu_closed()

    # A second click opens it again.
    menu = world.open_menu()
    world.expect_rows(menu, {0: "Found 2 password(s)/key(s) in rules"}, "menu-again")
    world.key("Escape")
    world.wait_menu_closed()
    world.check_app_running()


@CASES.case
def case_show_menu(world):
    """QUILLNEST_SHOW_MENU=1 opens the menu by itself; any other value does not."""
    world.start_host()

    world.start_app({"QUILLNEST_SHOW_MENU": "true"})
    world.wait_dot("gray", 30)
    docked = time.monotonic()
    while time.monotonic() < docked + 3:
        if world.popups():
            raise Failure("QUILLNEST_SHOW_MENU=true opened the menu")
        time.sleep(0.25)
    world.screenshot("true-no-menu")
    world.check_app_running()
    world.stop_app()
    wait_until("the icon to leave the tray", lambda: world.icon() is None, 15)

    started = time.monotonic()
    world.start_app({"QUILLNEST_SHOW_MENU": "1"})
    menu = world.wait_menu(30)
    log(f"menu opened by itself {time.monotonic() - started:.1f} s after the start")
    world.expect_rows(menu, {0: "Nothing synced yet", 1: "Projects: 0",
                             2: "Last sync: never", 3: "Last check: never"}, "shown-menu")
    if not world.icon():
        raise Failure("the icon is not in the tray while the menu is shown")
    world.key("Escape")
    world.wait_menu_closed()
    world.check_app_running()


@CASES.case
def case_live_refresh(world):
    """A state file changed behind the utility's back shows within one timer period."""
    alpha = world.project("alpha")
    world.write_state({alpha: {"secrets": 1, "synced": RECENT}})
    world.start_host()
    world.start_app()
    world.wait_dot("red", 30)

    world.write_state({alpha: {"secrets": 0, "synced": RECENT, "checked": RECENT}})
    changed = time.monotonic()
    world.wait_dot("green", 20)
    log(f"green {time.monotonic() - changed:.1f} s after the state file changed")

    menu = world.open_menu()
    world.expect_rows(menu, {0: "All rules in sync and clean", 1: "Projects: 1",
                             3: re.compile(r"^Last check: 3 hours ago$")}, "refreshed-menu")
    world.key("Escape")
    world.wait_menu_closed()


def quit_from_menu(world):
    """Opens the menu, goes up to its last item, checks that it is "Quit" and picks it."""
    menu = world.open_menu()
    world.key("Up")
    # Up from no highlighted row wraps round to the last one.
    world.expect_rows(menu, {10: "Quit Ctrl+Q"}, "quit-highlighted", highlight=10)
    world.key("Return")
    world.wait_app_end("\"Quit\"")


@CASES.case
def case_commands(world):
    """Sync now from the menu, watching on, and Quit: the watch process is told to end, a sync in
    progress is left to finish."""
    alpha = world.project("alpha", {"style.md": "# Style\n\nIndent with four spaces.\n",
                                    "keys.md": "# Access\n\npassword = hunter2\n"})
    tool_log = world.path("tool-invocations.jsonl")
    world.tool("init", alpha, "--sync")
    state = world.read_state()
    entry = state["projects"][alpha]
    if "synced" not in entry:
        raise Failure(f"init --sync wrote no sync date: {entry}")
    # Forget the sync date: the utility starts from "nothing synced yet".
    del entry["synced"]
    world.write_state(state["projects"])

    world.start_host()
    # Every tool run takes a few seconds, so a run in progress can be seen and quit upon.
    world.start_app({"QUILLNEST_STANDIN_DELAY_MS": "10000", "QUILLNEST_STANDIN_LOG": tool_log})
    world.wait_dot("gray", 30)

    # Sync now, with the keyboard: the info rows are skipped, the first Down lands on it.
    menu = world.open_menu()
    world.expect_rows(menu, {0: "Nothing synced yet", 2: "Last sync: never"}, "before-sync")
    world.key("Down")
    world.expect_rows(menu, {4: re.compile(r"^Sync now\b")}, "sync-highlighted", highlight=4)
    world.key("Return")
    world.wait_menu_closed()
    wait_invocation(tool_log, ["sync", "--all", "-q"])
    sync = wait_until("the sync process", lambda: world.runs_of("sync"), 10)
    if sync[0][1] != world.app.pid:
        raise Failure(f"the sync process {sync} is not a child of the utility {world.app.pid}")

    # While it runs, the menu says so and offers no second sync.
    menu = world.open_menu()
    world.expect_rows(menu, {4: re.compile(r"^Syncing\b")}, "syncing")
    # "Syncing…" and "Check rules" are unavailable, so Down skips them.
    world.key("Down")
    world.expect_rows(menu, {6: re.compile(r"Watch for changes$")}, "syncing-down", highlight=6)
    still = world.runs_of("sync")
    world.key("Escape")
    world.wait_menu_closed()
    if not still:
        log("note: the sync ended before the menu was read; the in-progress title was read "
            "from the menu built when it started")

    # When it ends, the menu and the dot show the tool's new result.
    world.wait_dot("green", 30)
    synced = world.read_state()["projects"][alpha].get("synced")
    if not synced:
        raise Failure("the sync wrote no date")
    menu = world.open_menu()
    _, rows, shot = world.expect_rows(
        menu, {0: "All rules in sync and clean",
               2: re.compile(r"^Last sync: (in )?\d+ (seconds?|minutes?)( ago)?$"),
               4: re.compile(r"^Sync now\b")}, "after-sync")
    if world.check_mark(shot, menu, rows, 6):
        raise Failure(f"\"Watch for changes\" shows a check mark before watching (see {shot})")

    # Watching on: Down to "Sync now", "Check rules", "Watch for changes".
    world.key("Down", "Down", "Down")
    world.expect_rows(menu, {6: re.compile(r"Watch for changes$")}, "watch-highlighted",
                      highlight=6)
    world.key("Return")
    world.wait_menu_closed()
    wait_invocation(tool_log, ["watch", "--all"])
    watch = wait_until("the watch process", lambda: world.runs_of("watch"), 10)
    watch_pid = watch[0][0]
    if watch[0][1] != world.app.pid:
        raise Failure(f"the watch process {watch} is not a child of the utility")
    log("watching, pid", watch_pid)

    # A slow sync, then "Quit" while it runs.
    menu = world.open_menu()
    _, rows, shot = world.expect_rows(menu, {6: re.compile(r"Watch for changes$")}, "watching")
    if not world.check_mark(shot, menu, rows, 6):
        raise Failure(f"\"Watch for changes\" shows no check mark while watching (see {shot})")
    world.key("Down", "Return")
    world.wait_menu_closed()
    sync = wait_until("the second sync process", lambda: world.runs_of("sync"), 10)
    sync_pid = sync[0][0]
    before = os.stat(os.path.join(world.state, "state.json")).st_mtime_ns
    quit_from_menu(world)
    quit_ns = time.time_ns()
    if not alive(sync_pid):
        written = os.stat(os.path.join(world.state, "state.json")).st_mtime_ns
        if written > before:
            raise Failure("the sync ended before the utility did: the machine was too slow for "
                          "the tool's delay")
        raise Failure("the sync in progress was ended with the utility")

    # The watch process was told to end: it ends by itself, with status 0 (its SIGTERM handling).
    ok, code = wait_ended(watch_pid, "the watch process to end", 15)
    if not ok:
        raise Failure(f"the watch process ended with wait status {code}, not by its SIGTERM "
                      "handling")
    if world.runs_of("watch"):
        raise Failure(f"a watch process is left: {world.runs_of('watch')}")

    # The sync finishes after the utility has gone and writes the state file.
    ok, code = wait_ended(sync_pid, "the orphaned sync to finish", 30)
    if not ok:
        raise Failure(f"the orphaned sync ended with wait status {code}")
    after = os.stat(os.path.join(world.state, "state.json")).st_mtime_ns
    if not (after > before and after > quit_ns - 50_000_000):
        raise Failure("state.json was not written by the sync after the utility had ended")
    log("the orphaned sync wrote state.json after the utility ended")
    if world.ours():
        raise Failure(f"processes left: {world.ours()}")


@CASES.case
def case_quit_shortcut(world):
    """Ctrl+Q, the shortcut the menu shows beside "Quit", ends the utility while the menu is
    open."""
    world.start_host()
    world.start_app()
    world.wait_dot("gray", 30)
    world.open_menu()
    world.key("ctrl+q")
    world.wait_app_end("Ctrl+Q in the open menu", timeout=10)


@CASES.case
def case_terminate_signal(world):
    """SIGTERM, as a session ending sends it, ends the utility as "Quit" does: the watch process
    is told to end too."""
    alpha = world.project("alpha")
    world.tool("init", alpha, "--sync")
    world.start_host()
    world.start_app()
    world.wait_dot("green", 30)
    menu = world.open_menu()
    world.key("Down", "Down", "Down")
    world.expect_rows(menu, {6: re.compile(r"Watch for changes$")}, "watch-highlighted",
                      highlight=6)
    world.key("Return")
    world.wait_menu_closed()
    watch_pid = wait_until("the watch process", lambda: world.runs_of("watch"), 10)[0][0]
    world.app.send_signal(signal.SIGTERM)
    world.wait_app_end("SIGTERM", timeout=10)
    wait_until("the watch process to end", lambda: world.reap(watch_pid), 10)


if __name__ == "__main__":
    sys.exit(CASES.main(__doc__))
