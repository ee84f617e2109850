"""The world every end-to-end case of quillnest-bar runs in, and the cases' command line.

A world is one case's folders (home, state folder, projects, runtime) and processes (display, bus,
host, utility), every one of them ended on the way out, also on failure, on SIGTERM/SIGINT and on
the case's deadline. The test is a child subreaper, so tool runs that outlive the utility come back
to it; whatever the case starts, also through a bus or a host, carries the case's state folder in
its environment, by which World.ours finds what is left over.

A module of cases registers each one with Cases.case and ends in `sys.exit(CASES.main(__doc__))`:
  MODULE --list    the case names and deadlines in seconds, one case a line
  MODULE CASE --app PATH --tool PATH --workdir DIR [--deadline N]
Exit status: 0 passed, 1 failed, 77 skipped (a program or module the case needs is missing).
"""

import argparse
import ctypes
import json
import os
import pwd
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

try:
    import dbus
    import dbus.bus
except ImportError:  # reported by Cases.main as a skip
    dbus = None

SKIP = 77
SESSION_USER = "quillnest-e2e"  # the unprivileged user of a session that refuses root

# Apple's system colours, light and dark variants, as the dot is painted.
COLOURS = {
    "gray": [(142, 142, 147)],
    "red": [(255, 59, 48), (255, 69, 58)],
    "yellow": [(255, 204, 0), (255, 214, 10)],
    "green": [(52, 199, 89), (48, 209, 88)],
}


def near(p, q, tolerance):
    return max(abs(a - b) for a, b in zip(p, q)) <= tolerance


def status_colour(p):
    """The name of the status colour `p` is (in either variant), or None."""
    for name, refs in COLOURS.items():
        if any(near(p, ref, 24) for ref in refs):
            return name
    return None


RECENT = time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(time.time() - 3 * 3600))

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

libc = ctypes.CDLL(None, use_errno=True)
PR_SET_PDEATHSIG = 1
PR_SET_CHILD_SUBREAPER = 36


class Failure(Exception):
    pass


class Deadline(Exception):
    pass


def log(*parts):
    print(time.strftime("%H:%M:%S"), *parts, flush=True)


def wait_until(what, condition, timeout, interval=0.2):
    """Polls `condition` until it returns something true and returns that; fails after `timeout`
    seconds, naming `what`."""
    end = time.monotonic() + timeout
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > end:
            raise Failure(f"timed out after {timeout:.0f} s waiting for {what}")
        time.sleep(interval)


def die_with_parent():
    # Runs in the child between fork and exec: it gets SIGKILL should this script vanish.
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)


def become_subreaper():
    """Makes this process the one that orphans of its descendants are re-parented to."""
    libc.prctl(PR_SET_CHILD_SUBREAPER, 1, 0, 0, 0)


# --------------------------------------------------------------------------------------------
# /proc


def processes():
    """Yields (pid, ppid, state, argv, environ) of every readable process."""
    for name in os.listdir("/proc"):
        if not name.isdigit():
            continue
        pid = int(name)
        try:
            with open(f"/proc/{pid}/stat", "rb") as f:
                stat = f.read().decode(errors="replace")
            with open(f"/proc/{pid}/cmdline", "rb") as f:
                argv = [a.decode(errors="replace") for a in f.read().split(b"\0")[:-1]]
            try:
                with open(f"/proc/{pid}/environ", "rb") as f:
                    environ = f.read().split(b"\0")
            except OSError:
                environ = []
        except OSError:
            continue
        # comm may hold spaces and parentheses: the fields follow the last ')'.
        fields = stat[stat.rfind(")") + 2:].split()
        yield pid, int(fields[1]), fields[0], argv, environ


def alive(pid):
    try:
        with open(f"/proc/{pid}/stat", "rb") as f:
            stat = f.read().decode(errors="replace")
    except OSError:
        return False
    return stat[stat.rfind(")") + 2:].split()[0] not in ("Z", "X")


# --------------------------------------------------------------------------------------------
# The case's world, and its staging for a session run as another user


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
    """For a case run as root whose session runs as another user, from a build tree that other
    users cannot reach (a clone in a private temporary folder): a copy of the utility, laid out as
    in the build tree so that it finds the stand-in tool, and a work folder, in a folder the
    session's user can reach. Returns the arguments to run with and the staging folder (None when
    nothing was staged)."""
    if os.geteuid() != 0 or all(reachable_by_others(p)
                                for p in (args.app, args.tool, args.workdir)):
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


class World:
    """One case's folders and processes, and what every host's cases need: an X server, a session
    bus, the utility, the stand-in tool and the state file. A kind of host subclasses it and adds
    how to start the host and how to see the icon and menu in it."""

    # True for a session that must run as an unprivileged user (SESSION_USER) when the test is
    # root: the utility and the work folder are staged where that user reaches them.
    STAGED = False

    def __init__(self, args):
        self.asked_workdir = os.path.abspath(args.workdir)
        args, self.stage = staged(args) if self.STAGED else (args, None)
        self.app_path = os.path.abspath(args.app)
        self.tool_path = os.path.abspath(args.tool)
        self.app_class = os.path.basename(self.app_path)
        self.dir = os.path.abspath(args.workdir)
        shutil.rmtree(self.dir, ignore_errors=True)
        os.makedirs(self.dir)
        self.home = self.mkdir("home")
        self.state = self.mkdir("state dir")  # a space, so paths are never split on one
        # Bus and Wayland sockets live here: a short path, whatever the build directory's is.
        self.runtime = tempfile.mkdtemp(prefix="qn-e2e-")
        self.projects = self.mkdir("projects")
        self.user = None  # pwd entry of the user the session runs as; None: this process's own
        self.display = None  # X display, ":N"
        self.wayland = None  # Wayland display, a socket's name in self.runtime
        self.bus_address = None
        self.bus = None
        self.owned = []  # Popen objects, ended in reverse order
        self.app = None
        self.app_log = None
        self.shots = 0
        self.marker = b"QUILLNEST_HOME=" + self.state.encode()

    def start_host(self):
        """Starts the display and the tray host, and waits until the host is ready for the
        utility."""
        raise NotImplementedError

    def mkdir(self, name):
        path = os.path.join(self.dir, name)
        os.makedirs(path, exist_ok=True)
        return path

    def path(self, name):
        return os.path.join(self.dir, name)

    # ---- processes

    def as_user(self):
        if self.user is None:
            return {}
        return {"user": self.user.pw_uid, "group": self.user.pw_gid, "extra_groups": []}

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
                            ("DBUS_SESSION_BUS_ADDRESS", self.bus_address)):
            if value:
                env[name] = value
        return env

    def spawn(self, argv, env=None, log_name=None, pass_fds=()):
        """Starts a process of the session that this case owns and ends; its output goes to
        `log_name`."""
        with open(self.path(log_name or "other.log"), "ab") as out:
            proc = subprocess.Popen(argv, env=env or self.session_env(), stdin=subprocess.DEVNULL,
                                    stdout=out, stderr=subprocess.STDOUT, pass_fds=pass_fds,
                                    preexec_fn=die_with_parent, **self.as_user())
        self.owned.append(proc)
        return proc

    def run(self, *argv, check=True):
        """Runs a short command of the session (xdotool, swaymsg, grim) as the session's user;
        returns its output."""
        result = subprocess.run(list(argv), env=self.session_env(), stdin=subprocess.DEVNULL,
                                capture_output=True, timeout=30, **self.as_user())
        if check and result.returncode != 0:
            raise Failure(f"{argv[0]} failed ({result.returncode}): "
                          f"{result.stderr.decode(errors='replace').strip()}")
        return result.stdout.decode(errors="replace")

    x = run  # an X client, by the name the X hosts' code reads best with

    def end(self, proc, grace=5):
        if proc.poll() is None:
            proc.send_signal(signal.SIGTERM)
            try:
                proc.wait(grace)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.wait()

    def check_owned(self):
        """Fails when a process of the session other than the utility has ended."""
        for proc in self.owned:
            if proc is not self.app and proc.poll() is not None:
                raise Failure(f"{proc.args[0]} ended with status {proc.returncode}")

    def ours(self):
        """Processes started on behalf of this case by anything else than this script: tool runs
        carry the case's state directory in their environment."""
        me = os.getpid()
        return [(pid, ppid, state, argv) for pid, ppid, state, argv, environ in processes()
                if pid != me and self.marker in environ
                and not any(p.pid == pid for p in self.owned)]

    def reap(self, pid):
        """Collects a re-parented child that has ended; True when it is gone."""
        try:
            done, _ = os.waitpid(pid, os.WNOHANG)
            return done == pid
        except ChildProcessError:
            return not alive(pid)

    def cleanup(self):
        if self.app is not None:
            self.end(self.app)
        for pid, _, _, argv in self.ours():
            log("ending leftover process", pid, argv)
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
        for proc in reversed(self.owned):
            self.end(proc)
        for pid, _, _, _ in self.ours():
            self.reap(pid)
        # Anything else that was re-parented here and has ended.
        while True:
            try:
                pid, _ = os.waitpid(-1, os.WNOHANG)
            except ChildProcessError:
                break
            if pid == 0:
                break
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

    # ---- the session's user and bus

    def hand_to_session_user(self):
        """Makes the session run as SESSION_USER (made the first time) when this test is root,
        and hands it the case's files (the tool's runs write the state file and the projects)."""
        if os.geteuid() == 0:
            try:
                self.user = pwd.getpwnam(SESSION_USER)
            except KeyError:
                subprocess.run(["useradd", "--system", "--user-group", "--no-create-home",
                                "--home-dir", "/nonexistent", "--shell", "/usr/sbin/nologin",
                                SESSION_USER], check=True, capture_output=True)
                log("made the user", SESSION_USER)
                self.user = pwd.getpwnam(SESSION_USER)
            os.chown(self.runtime, self.user.pw_uid, self.user.pw_gid)
            for top, dirs, files in os.walk(self.dir):
                for name in [top] + [os.path.join(top, n) for n in dirs + files]:
                    os.chown(name, self.user.pw_uid, self.user.pw_gid, follow_symlinks=False)
        probe = subprocess.run(["test", "-x", self.app_path, "-a", "-w", self.dir],
                               **self.as_user())
        if probe.returncode != 0:
            raise Failure(f"the session's user cannot run {self.app_path} or write {self.dir}")

    def start_bus(self):
        """A private session bus, with this script connected to it as self.bus."""
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

    # ---- X

    def start_xvfb(self):
        read_end, write_end = os.pipe()
        # -displayfd: the server picks a free display itself and writes its number.
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

    def windows(self, tree):
        """Parses `xwininfo -root -tree` or `-children`: id, name, class, depth, size and absolute
        position of each window."""
        out = self.x("xwininfo", "-root", "-tree" if tree else "-children")
        found = []
        pattern = re.compile(
            r'^(\s*)(0x[0-9a-f]+) (?:"(.*)"|\(has no name\)): \((.*)\)\s+'
            r'(\d+)x(\d+)[+-]-?\d+[+-]-?\d+\s+\+?(-?\d+)\+?(-?\d+)\s*$')
        for line in out.splitlines():
            m = pattern.match(line)
            if not m:
                continue
            found.append({"indent": len(m.group(1)), "id": m.group(2), "name": m.group(3) or "",
                          "class": m.group(4), "w": int(m.group(5)), "h": int(m.group(6)),
                          "x": int(m.group(7)), "y": int(m.group(8))})
        return found

    def tree_windows(self, keep):
        return [w for w in self.windows(True) if keep(w)]

    def info(self, wid):
        """The window's current absolute geometry and whether it is viewable, or None."""
        out = self.x("xwininfo", "-id", wid, check=False)
        fields = dict(re.findall(r"^\s*([A-Za-z -]+):\s*(.*)$", out, re.M))
        try:
            return {"id": wid, "x": int(fields["Absolute upper-left X"]),
                    "y": int(fields["Absolute upper-left Y"]), "w": int(fields["Width"]),
                    "h": int(fields["Height"]), "viewable": fields["Map State"] == "IsViewable"}
        except (KeyError, ValueError):
            return None

    def viewable(self, wid):
        info = self.info(wid)
        return bool(info and info["viewable"])

    def screenshot(self, label):
        """The whole screen, kept in the work folder as NN-label.png; returns its path."""
        self.shots += 1
        path = self.path(f"{self.shots:02d}-{label}.png")
        self.x("import", "-window", "root", path)
        return path

    def drop(self, shot):
        """Removes a screenshot that showed nothing of use, and gives its number back."""
        os.remove(shot)
        self.shots -= 1

    def wait_screen(self, what, label, judge, timeout, interval=0.5):
        """Takes screenshots while the utility runs until judge(shot) returns (something true,
        note) and returns that something and the screenshot; the screenshots before are dropped.
        The note says what judge saw: a failure names the last one and keeps a screenshot."""
        seen = ["nothing"]

        def shows():
            self.check_app_running()
            shot = self.screenshot(label)
            found, seen[0] = judge(shot)
            if found:
                return found, shot
            self.drop(shot)
            return None
        try:
            return wait_until(what, shows, timeout, interval)
        except Failure as e:
            raise Failure(f"{e}; last seen: {seen[0]} (see {self.screenshot(label)})")

    def ocr(self, shot, box, psm, *adjust, tsv=False):
        """The text tesseract reads in a box of a screenshot, greyed, changed by the ImageMagick
        options `adjust` and scaled up three times; `psm` is tesseract's page segmentation mode.
        With `tsv`, tesseract's table of words with their boxes in the scaled crop."""
        crop = self.path("ocr.png")
        subprocess.run(["convert", shot, "-crop", f'{box["w"]}x{box["h"]}+{box["x"]}+{box["y"]}',
                        "+repage", "-colorspace", "Gray", *adjust, "-resize", "300%", crop],
                       check=True)
        out = subprocess.run(["tesseract", crop, "-", "--psm", str(psm), *(["tsv"] * tsv)],
                             capture_output=True, check=True).stdout.decode(errors="replace")
        os.remove(crop)
        return out

    def click(self, box, button):
        """Clicks the middle of a box on the X screen."""
        self.x("xdotool", "mousemove", str(box["x"] + box["w"] // 2),
               str(box["y"] + box["h"] // 2), "click", str(button))

    def pixels(self, shot, x, y, w, h):
        """A box of a screenshot as rows of (R, G, B)."""
        raw = subprocess.run(["convert", shot, "-crop", f"{w}x{h}+{x}+{y}", "+repage",
                              "-depth", "8", "rgb:-"], capture_output=True, check=True).stdout
        if len(raw) != w * h * 3:
            raise Failure(f"unexpected crop size from {shot}")
        return [[tuple(raw[(r * w + c) * 3:(r * w + c) * 3 + 3]) for c in range(w)]
                for r in range(h)]

    # ---- the utility

    def app_env(self, extra=None):
        env = self.session_env()
        env.update({"QT_QPA_PLATFORM": "wayland" if self.wayland else "xcb",
                    "LANGUAGE": "en", "LC_ALL": "C.UTF-8"})
        env.update(extra or {})
        return env

    def start_app(self, extra=None):
        self.app_log = f"app-{len(self.owned)}.log"
        self.app = self.spawn([self.app_path], env=self.app_env(extra), log_name=self.app_log)
        log("started", self.app_class, "pid", self.app.pid)
        return self.app

    def app_output(self):
        try:
            with open(self.path(self.app_log), "rb") as f:
                return f.read().decode(errors="replace")
        except (OSError, TypeError):
            return ""

    def check_app_running(self):
        if self.app.poll() is not None:
            raise Failure(f"the utility ended with status {self.app.returncode}:\n"
                          + self.app_output())

    def stop_app(self):
        self.end(self.app)
        self.owned.remove(self.app)
        self.app = None

    def wait_app_end(self, what, timeout=20):
        """Waits for the utility to end by itself after `what`, with status 0."""
        try:
            status = self.app.wait(timeout)
        except subprocess.TimeoutExpired:
            raise Failure(f"{what} did not end the utility within {timeout} s")
        self.owned.remove(self.app)
        self.app = None
        log("utility ended with status", status)
        if status != 0:
            raise Failure(f"the utility ended with status {status}")

    # ---- state and tool

    def write_state(self, projects):
        """Replaces state.json atomically, as the tool does."""
        path = os.path.join(self.state, "state.json")
        tmp = path + ".tmp"
        with open(tmp, "w", encoding="utf-8") as f:
            json.dump({"version": 1, "projects": projects}, f, indent=2)
        os.replace(tmp, path)

    def read_state(self):
        with open(os.path.join(self.state, "state.json"), encoding="utf-8") as f:
            return json.load(f)

    def project(self, name, rules=None):
        """A project folder with the given rule files ({name: text})."""
        path = os.path.join(self.projects, name)
        os.makedirs(os.path.join(path, ".quillnest", "rules"), exist_ok=True)
        for file, text in (rules or {}).items():
            with open(os.path.join(path, ".quillnest", "rules", file), "w") as f:
                f.write(text)
        return path

    def tool(self, *args):
        """Runs the stand-in tool as the utility would, and waits for it."""
        result = subprocess.run([self.tool_path, *args], env=self.app_env(), capture_output=True,
                                timeout=60, **self.as_user())
        if result.returncode != 0:
            raise Failure(f"the stand-in tool failed: {args}: {result.stderr.decode()}")

    def runs_of(self, command):
        """Live tool processes of this case running `command`: [(pid, ppid)]. The utility names
        the tool by a path of its own (through ../share), so paths are compared resolved."""
        tool = os.path.realpath(self.tool_path)
        found = []
        for pid, ppid, state, argv in self.ours():
            if state in ("Z", "X"):
                continue
            for i, arg in enumerate(argv[:2]):
                if os.path.realpath(arg) == tool and argv[i + 1:i + 2] == [command]:
                    found.append((pid, ppid))
                    break
        return found


def wait_invocation(logfile, args, timeout=20):
    """Waits for the stand-in tool's log (QUILLNEST_STANDIN_LOG) to show a run with `args`."""
    def logged():
        try:
            with open(logfile, encoding="utf-8") as f:
                return any(json.loads(line) == args for line in f if line.strip())
        except OSError:
            return False
    wait_until(f"the tool to be run with {args}", logged, timeout)


def wait_ended(pid, what, timeout):
    """Waits for a re-parented child to end. Returns whether it ended with status 0 (or was
    collected elsewhere), and its wait status ("gone" when collected elsewhere)."""
    def ended():
        try:
            done, code = os.waitpid(pid, os.WNOHANG)
        except ChildProcessError:
            return ("gone",) if not alive(pid) else None
        return (code,) if done == pid else None
    code = wait_until(what, ended, timeout)[0]
    return code == "gone" or (os.WIFEXITED(code) and os.WEXITSTATUS(code) == 0), code


# --------------------------------------------------------------------------------------------
# The command line and the runner


class Cases:
    """The cases of one kind of host. `world` makes a case's world from the command line's
    arguments; `needed` names the programs the cases run; `deadline` is a case's default
    deadline in seconds; `needs_dbus` says the cases talk D-Bus; `failures` are further
    exceptions that fail a case."""

    def __init__(self, world, needed, deadline, needs_dbus=False, failures=()):
        self.world, self.needed, self.deadline = world, needed, deadline
        self.needs_dbus, self.failures = needs_dbus, failures
        self.cases = {}  # name: (function, deadline)

    def case(self, function=None, *, name=None, deadline=None):
        """Registers a case, as a decorator (`@CASES.case` or `@CASES.case(deadline=200)`) or as
        a call. Its name is the function's without "case_", with "-" for "_"."""
        def add(f):
            key = name or f.__name__.removeprefix("case_").replace("_", "-")
            if key in self.cases:
                raise ValueError(f"two cases named {key}")
            self.cases[key] = (f, deadline or self.deadline)
            return f
        return add(function) if function else add

    def main(self, doc):
        parser = argparse.ArgumentParser(description=doc.splitlines()[0])
        parser.add_argument("case", nargs="?", choices=sorted(self.cases))
        parser.add_argument("--list", action="store_true",
                            help="print the case names and deadlines, one case a line")
        for option in ("--app", "--tool", "--workdir"):
            parser.add_argument(option)
        parser.add_argument("--deadline", type=float,
                            help="seconds after which the case gives up and cleans up "
                                 "(default: the case's own)")
        args = parser.parse_args()
        if args.list:
            for name, (_, deadline) in self.cases.items():
                print(name, deadline)
            return 0
        if not (args.case and args.app and args.tool and args.workdir):
            parser.error("CASE, --app, --tool and --workdir are needed to run a case")
        if args.deadline is None:
            args.deadline = self.cases[args.case][1]

        missing = [p for p in self.needed if not shutil.which(p)]
        if self.needs_dbus and dbus is None:
            missing.append(f"the dbus module of {sys.executable} (python3-dbus)")
        if missing:
            print("skipped: not installed:", ", ".join(missing), "(scripts/install-deps.sh)")
            return SKIP
        for path in (args.app, args.tool):
            if not os.access(path, os.X_OK):
                print("missing executable:", path)
                return 1
        return self.run(args)

    def run(self, args):
        """Runs the case in its world under the case's deadline, as a child subreaper, and reports
        it; every process of the world is ended on the way out. Returns the exit status: 0 passed,
        1 failed."""
        become_subreaper()

        def on_signal(signum, _frame):
            raise Deadline(f"stopped by signal {signum}")

        def on_alarm(_signum, _frame):
            raise Deadline(f"the case ran past its deadline of {args.deadline:.0f} s")
        signal.signal(signal.SIGTERM, on_signal)
        signal.signal(signal.SIGINT, on_signal)
        signal.signal(signal.SIGALRM, on_alarm)
        signal.setitimer(signal.ITIMER_REAL, args.deadline)

        started = time.monotonic()
        world = self.world(args)
        try:
            self.cases[args.case][0](world)
            print(f"PASS {args.case} in {time.monotonic() - started:.0f} s "
                  f"(screenshots in {world.asked_workdir})")
            return 0
        except (Failure, Deadline, *self.failures) as e:
            print(f"FAIL {args.case} after {time.monotonic() - started:.0f} s: {e}")
            try:
                if world.display or world.wayland:
                    world.screenshot("failure")
            except Exception:
                pass
            out = world.app_output()
            if out:
                print("--- utility output ---\n" + out)
            return 1
        finally:
            signal.setitimer(signal.ITIMER_REAL, 0)
            signal.signal(signal.SIGTERM, signal.SIG_IGN)
            signal.signal(signal.SIGINT, signal.SIG_IGN)
            world.cleanup()
