#!/usr/bin/python3
"""quarvo-host session on a real X server (Xvfb, no window manager), driven as an operator drives it:
windows found by their titles, keys typed into them, close boxes pressed by WM_DELETE_WINDOW, against
a quarvo-panelsim on an encrypted UDP link.

Session 1: Enter connects; "Panel Sync" receives every item into a fresh data file; History reads
the new events; "Set Panel Date/Time": Get Current reads the clock, Enter on the focused Cancel
writes nothing, Enter in the adjustment presses Update Panel, which writes; the close box of the
history window during a long read stops the reads and the session goes on; End Session: Enter on the
focused Cancel keeps the session, Enter on OK ends it (event 3 "USERDISCONNECTING", exit 0).
Session 2: SIGTERM during a history read: goodbye to the panel, exit 143, no event 3.
After each: no process of the host left, none of its shared-memory records left.

Every wait has a deadline far above the normal time; a missing X server or Xlib is a failure.
"""
import argparse
import ctypes
import json
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

try:
    from Xlib import X, XK, display as xdisplay, error as xerror, protocol
    from Xlib.ext import xtest
except ImportError:
    sys.exit("session_on_x: python3-xlib is missing (scripts/install-deps.sh installs it)")

KEY = "Quarvo-x11-test-key-32-chars-ok!"
PANEL = "Xvfb panel"
STEP = 90.0  # seconds: the deadline of one step, far above its normal second or two


class Failure(Exception):
    pass


def _terminated(signum, _frame):
    raise Failure(f"stopped by signal {signum}")


def _end_with_parent():
    """In a child: a signal when this driver goes, however it goes, so nothing outlives the test."""
    ctypes.CDLL(None, use_errno=True).prctl(1, signal.SIGTERM)  # PR_SET_PDEATHSIG


def log(text):
    print(f"[{time.strftime('%H:%M:%S')}] {text}", flush=True)


def wait_until(what, predicate, timeout=STEP, interval=0.05):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value:
            return value
        if time.monotonic() > deadline:
            raise Failure(f"timed out after {timeout:.0f} s waiting for: {what}")
        time.sleep(interval)


class XServer:
    """An Xvfb on a display number of its own (-displayfd), so parallel runs never meet."""

    def __init__(self, work):
        xvfb = shutil.which("Xvfb")
        if not xvfb:
            raise Failure("Xvfb not found: install the Debian package xvfb (scripts/install-deps.sh does)")
        read_end, write_end = os.pipe()
        self.log = open(os.path.join(work, "xvfb.log"), "wb")
        self.process = subprocess.Popen(
            [xvfb, "-displayfd", str(write_end), "-screen", "0", "1280x1024x24", "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True,
            preexec_fn=_end_with_parent)
        os.close(write_end)
        number = b""
        deadline = time.monotonic() + STEP
        with os.fdopen(read_end, "rb", buffering=0) as pipe:
            while not number.endswith(b"\n"):
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise Failure("Xvfb did not start (see xvfb.log)")
                chunk = pipe.read(16)
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            raise Failure(f"Xvfb gave no display number ({number!r}; see xvfb.log)")
        self.name = ":" + number.strip().decode()
        self.display = xdisplay.Display(self.name)
        if not self.display.has_extension("XTEST"):
            raise Failure("the X server has no XTEST extension")
        self.root = self.display.screen().root
        self.atoms = {n: self.display.intern_atom(n) for n in ("_NET_WM_NAME", "UTF8_STRING", "WM_PROTOCOLS", "WM_DELETE_WINDOW")}

    def stop(self):
        try:
            self.display.close()
        except Exception:
            pass
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=30)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=30)
        self.log.close()

    # ---- windows by title ------------------------------------------------------------------------

    def title(self, window):
        try:
            prop = window.get_full_property(self.atoms["_NET_WM_NAME"], self.atoms["UTF8_STRING"])
            if prop and prop.value:
                return prop.value.decode("utf-8", "replace")
            name = window.get_wm_name()
            return name.decode("latin-1") if isinstance(name, bytes) else (name or "")
        except xerror.XError:
            return ""

    def windows(self):
        """Mapped top-level windows and their titles (without a window manager they are the root's
        children)."""
        out = []
        try:
            children = self.root.query_tree().children
        except xerror.XError:
            return out
        for window in children:
            try:
                if window.get_attributes().map_state != X.IsViewable:
                    continue
            except xerror.XError:
                continue
            out.append((window, self.title(window)))
        return out

    def find(self, title):
        """The mapped window whose title is `title` (or starts with it when it ends with '*')."""
        for window, name in self.windows():
            if name == title or (title.endswith("*") and name.startswith(title[:-1])):
                return window
        return None

    def wait_window(self, title, timeout=STEP):
        return wait_until(f'window "{title}"', lambda: self.find(title), timeout)

    def wait_gone(self, title, timeout=STEP):
        wait_until(f'window "{title}" to close', lambda: self.find(title) is None, timeout)

    def titles(self):
        return [name for _, name in self.windows() if name]

    # ---- keyboard and close box ------------------------------------------------------------------

    def keycode(self, name):
        code = self.display.keysym_to_keycode(XK.string_to_keysym(name))
        if not code:
            raise Failure(f"no key code for {name}")
        return code

    def keys(self, window, *names):
        """Gives `window` the input focus and types each key ("alt+r", "shift+Tab", "Return")."""
        self.display.set_input_focus(window, X.RevertToParent, X.CurrentTime)
        self.display.sync()
        for name in names:
            parts = name.split("+")
            modifiers = [self.keycode({"alt": "Alt_L", "shift": "Shift_L"}[m]) for m in parts[:-1]]
            key = self.keycode(parts[-1])
            for code in modifiers:
                xtest.fake_input(self.display, X.KeyPress, code)
            xtest.fake_input(self.display, X.KeyPress, key)
            xtest.fake_input(self.display, X.KeyRelease, key)
            for code in reversed(modifiers):
                xtest.fake_input(self.display, X.KeyRelease, code)
            self.display.sync()

    def press(self, title, *names):
        self.keys(self.wait_window(title), *names)

    def screenshot(self, path):
        """The screen as a PNG (for a failure's report)."""
        import struct
        import zlib
        geometry = self.root.get_geometry()
        width, height = geometry.width, geometry.height
        pixels = self.root.get_image(0, 0, width, height, X.ZPixmap, 0xFFFFFFFF).data
        # 32-bit BGRX pixels: reorder to RGB.
        raw = bytearray()
        for y in range(height):
            raw.append(0)
            line = pixels[y * width * 4:(y + 1) * width * 4]
            rgb = bytearray(width * 3)
            rgb[0::3], rgb[1::3], rgb[2::3] = line[2::4], line[1::4], line[0::4]
            raw += rgb

        def chunk(kind, data):
            return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

        with open(path, "wb") as f:
            f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0))
                    + chunk(b"IDAT", zlib.compress(bytes(raw), 6)) + chunk(b"IEND", b""))

    def close_box(self, window):
        """What a window manager sends for a click on the close box: WM_DELETE_WINDOW."""
        event = protocol.event.ClientMessage(
            window=window, client_type=self.atoms["WM_PROTOCOLS"],
            data=(32, [self.atoms["WM_DELETE_WINDOW"], X.CurrentTime, 0, 0, 0]))
        window.send_event(event, event_mask=X.NoEventMask)
        self.display.sync()


class Panel:
    """quarvo-panelsim on a free UDP port, with a trace of every exchange."""

    def __init__(self, sim, work):
        self.trace_path = os.path.join(work, "panel-trace.jsonl")
        self.data_path = os.path.join(work, "panel.bin")
        self.out = open(os.path.join(work, "panel.out"), "w+")
        # History answers of four slots, each held back a little: reading all 200 events takes
        # tens of seconds, time to close the window or send a signal during the read.
        self.process = subprocess.Popen(
            [sim, "--mode", "network", "--port", "0", "--link-key", KEY, "--trace", self.trace_path,
             "--save-data", self.data_path, "--log-size", "256", "--events", "200", "--new-events", "6",
             "--slots-per-answer", "4", "--fault", "late=150@eventlog*0"],
            stdout=self.out, stderr=subprocess.STDOUT, start_new_session=True, preexec_fn=_end_with_parent)

        def port():
            self.out.seek(0)
            match = re.search(r"UDP 127\.0\.0\.1:(\d+)", self.out.read())
            if self.process.poll() is not None:
                raise Failure("quarvo-panelsim ended at start: " + open(self.out.name).read())
            return int(match.group(1)) if match else None

        self.port = wait_until("the simulator's port", port)

    def requests(self, name, direction="in"):
        """How many requests named `name` the panel received."""
        count = 0
        try:
            with open(self.trace_path, encoding="utf-8", errors="replace") as trace:
                for line in trace:
                    try:
                        entry = json.loads(line)
                    except ValueError:
                        continue  # a line being written
                    if entry.get("dir") == direction and name in entry.get("decoded", ""):
                        count += 1
        except FileNotFoundError:
            pass
        return count

    def answers(self, name):
        """How many answers to requests named `name` the panel sent."""
        return self.requests("answer " + name, direction="out")

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)  # it writes its data on the way out
            try:
                self.process.wait(timeout=60)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait(timeout=30)
        self.out.close()


class Host:
    """One `quarvo-host session` on the X server; the shared-memory records it maps are noted."""

    def __init__(self, program, x, work, name, settings, data, events, history):
        self.work = work
        self.err_path = os.path.join(work, name + ".err")
        self.err = open(self.err_path, "wb")
        env = dict(os.environ)
        env.update({"DISPLAY": x.name, "QT_QPA_PLATFORM": "xcb", "QUARVO_SETTINGS_DIR": os.path.join(work, "store"),
                    "QUARVO_LOG_DIR": os.path.join(work, "logs"), "QT_ACCESSIBILITY": "0", "NO_AT_BRIDGE": "1"})
        env.pop("QUARVO_TIME_SCALE", None)
        env.pop("WAYLAND_DISPLAY", None)
        self.process = subprocess.Popen(
            [program, "session", "--settings", settings, "--data", data, "--events", events, "--history", history],
            stdin=subprocess.DEVNULL, stdout=self.err, stderr=subprocess.STDOUT, env=env, start_new_session=True,
            preexec_fn=_end_with_parent)
        self.segments = set()

    def index_path(self):
        return f"/dev/shm/quarvo-segments.{self.process.pid}"

    def note_segments(self):
        """The shared-memory records the host has made so far, from the index it keeps of them
        (one "+NAME" line per record made, "-NAME" per record removed)."""
        try:
            with open(self.index_path()) as index:
                for line in index:
                    if line.startswith("+"):
                        self.segments.add(line[1:].strip())
        except OSError:
            pass

    def wait(self, timeout=STEP):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            raise Failure("quarvo-host session did not end")

    def output(self):
        self.err.flush()
        with open(self.err_path, encoding="utf-8", errors="replace") as f:
            return f.read()

    def backtrace(self, path):
        """The host's main-thread stack, for a failure's report (when gdb is there)."""
        gdb = shutil.which("gdb")
        if not gdb or self.process.poll() is not None:
            return
        with open(path, "w") as out:
            subprocess.run([gdb, "-p", str(self.process.pid), "-batch", "-ex", "bt 80"], stdout=out,
                           stderr=subprocess.STDOUT, timeout=120, check=False)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)
        self.err.close()


class SessionWindow:
    """The host's window while the session runs: History..., Set Panel Clock..., Synchronise... and
    Disconnect, in that tab order. The focus starts on the first and stays on the one last pressed.

    Its buttons are pressed with Enter on the focused button, which clicks at once. (Alt+letter
    clicks a moment later, from a timer; a datagram send that lets timers run would then open the
    modal window inside the send, which is held until that window closes.)"""

    BUTTONS = ["History", "Clock", "Synchronise", "Disconnect"]

    def __init__(self, x):
        self.x = x
        self.focus = 0

    def press(self, name):
        target = self.BUTTONS.index(name)
        steps = (target - self.focus) % len(self.BUTTONS)
        keys = ["Tab"] * steps if steps <= 2 else ["shift+Tab"] * (len(self.BUTTONS) - steps)
        self.x.keys(self.x.wait_window("Quarvo - " + PANEL), *keys, "Return")
        self.focus = target


def read_events(path):
    out = []
    try:
        with open(path, encoding="utf-8") as f:
            for line in f:
                if line.strip():
                    out.append(json.loads(line))
    except FileNotFoundError:
        pass
    return out


def tags(events):
    return [e["tag"] for e in events if e.get("code") == 5 and "tag" in e]


def check(condition, text):
    if not condition:
        raise Failure(text)


def nothing_left(host, work):
    """No process started with this run's settings folder is left, and no record the host mapped."""
    check(host.process.poll() is not None, "quarvo-host still runs")
    check(host.segments, "no shared-memory record of the host was seen while it ran")
    left = [name for name in sorted(host.segments) if os.path.exists("/dev/shm/" + name)]
    check(not left, f"shared-memory records left behind: {left}")
    check(not os.path.exists(host.index_path()), f"{host.index_path()} left behind")
    own = f"QUARVO_SETTINGS_DIR={os.path.join(work, 'store')}".encode() + b"\0"
    stray = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{pid}/environ", "rb") as f:
                if b"\0" + own in b"\0" + f.read() + b"\0" and int(pid) != os.getpid():
                    with open(f"/proc/{pid}/cmdline", "rb") as c:
                        stray.append(c.read().replace(b"\0", b" ").decode(errors="replace"))
        except OSError:
            continue
    check(not stray, f"processes of the session left: {stray}")


def data_items(path):
    """The items' bytes of a panel data file (they follow the 240-byte header and item table)."""
    with open(path, "rb") as f:
        data = f.read()
    check(data[:4] == b"QVPD", f"{path} is no panel data file")
    return data[240:]


def first_session(x, panel, args, work, files):
    host = Host(args.host, x, work, "session1", files["settings"], files["data"], files["events"], files["history"])
    try:
        run_first(x, panel, host, files)
    except Failure:
        print(f"windows open: {x.titles()}; the screen is in session1-failure.png", file=sys.stderr)
        x.screenshot(os.path.join(work, "session1-failure.png"))
        host.backtrace(os.path.join(work, "session1-failure.gdb"))
        raise
    finally:
        host.stop()


def run_first(x, panel, host, files):
    # Enter in the dialog: the passcode comes from the settings, Connect is the default button.
    dialog = "Panel Communication*"
    window = x.wait_window(dialog)
    log("connection dialog open: Enter")
    # The host picks the settings' link type as soon as the dialog shows; let it.
    time.sleep(1.0)
    x.keys(window, "Return")
    x.wait_gone(dialog)
    host.note_segments()

    # A fresh data file differs in every item: receive them all.
    # Alt+R takes the focus to "Receive Panel Data" (and clicks it a moment later); Space checks
    # it at once, so Enter (the default OK) cannot overtake the choice.
    log("Panel Sync: Receive, Enter")
    x.press("Panel Sync", "alt+r", "space", "Return")
    wait_until("RECV_END", lambda: "RECV_END" in tags(read_events(files["events"])))
    x.wait_gone("Panel Sync")
    x.wait_window("Quarvo - " + PANEL)
    operator = SessionWindow(x)
    host.note_segments()

    # History: the current events (OK is the default button; the focus starts on the range).
    log("History: current events")
    operator.press("History")
    x.press("History Events", "Return")
    wait_until("HISTORY_END", lambda: "HISTORY_END" in tags(read_events(files["events"])))
    x.wait_gone("History Events")
    with open(files["history"]) as f:
        read = [json.loads(line) for line in f if line.strip()]
    valid = [e for e in read if e.get("valid")]
    check(len(valid) == 6, f"6 new events read, not {len(valid)}")
    ends = [e["data"][1] for e in read_events(files["events"]) if e.get("tag") == "HISTORY_END"]
    check(ends == [6], f"HISTORY_END: {ends}")

    # The clock window opens with the focus on Update Panel, the default button; its tab order
    # is Update Panel, Cancel, the adjustment, Get Current. Get Current (one Shift+Tab back),
    # then Enter on the focused Cancel.
    clock = "Set Panel Date/Time"
    log("clock: Get Current, then Enter on the focused Cancel")
    dates = panel.answers("Request Panel Date")
    operator.press("Clock")
    x.press(clock, "shift+Tab", "Return")
    # The read disables Get Current and Update Panel, which moves the focus on to Cancel; the
    # answer enables them again and the focus stays.
    wait_until("the clock read", lambda: panel.answers("Request Panel Date") > dates)
    x.press(clock, "Return")
    x.wait_gone(clock)
    check(panel.requests("Change Panel Date") == 0, "Enter on the focused Cancel wrote the clock")
    check("SET_TIME" not in tags(read_events(files["events"])), "SET_TIME without a write")

    log("clock: Enter in the adjustment presses Update Panel")
    operator.press("Clock")
    x.press(clock, "Tab", "Tab", "Return")
    wait_until("SET_TIME", lambda: "SET_TIME" in tags(read_events(files["events"])))
    x.wait_gone(clock)
    check(panel.requests("Change Panel Date") == 1, "Update Panel wrote the clock not once")

    # The close box of the history window during a long read: the reads stop, the session goes on.
    log("History: all events, the close box during the read")
    operator.press("History")
    x.press("History Events", "Down", "Return")
    start = panel.requests("Request Event Log")
    wait_until("a few history reads", lambda: panel.requests("Request Event Log") >= start + 3)
    host.note_segments()
    x.close_box(x.wait_window("History Events"))
    x.wait_gone("History Events")
    stopped_at = panel.requests("Request Event Log")
    keep_alives = panel.requests("Request Panel Status")
    wait_until("two keep-alives after the close", lambda: panel.requests("Request Panel Status") >= keep_alives + 2)
    check(panel.requests("Request Event Log") <= stopped_at + 1,
          f"history reads went on after the close box ({stopped_at} -> {panel.requests('Request Event Log')})")
    check(panel.requests("Panel Goodbye") == 0, "the close box ended the session")
    check(host.process.poll() is None, "the host ended with the history window")

    # End Session opens with the focus on Reset Panel, then OK, then Cancel: Enter on the focused
    # Cancel keeps the session; Enter on the box presses OK, the default, and ends it.
    log("End Session: Enter on Cancel, then on OK")
    operator.press("Disconnect")
    x.press("End Session", "Tab", "Tab", "Return")
    x.wait_gone("End Session")
    keep_alives = panel.requests("Request Panel Status")
    wait_until("a keep-alive after Cancel", lambda: panel.requests("Request Panel Status") > keep_alives)
    check(panel.requests("Panel Goodbye") == 0, "Enter on the focused Cancel ended the session")
    operator.press("Disconnect")
    x.press("End Session", "Return")
    status = host.wait()
    output = host.output()
    check(status == 0, f"session 1 ended with status {status}: {output}")
    check(panel.requests("Panel Goodbye") == 1, "no goodbye at the end of session 1")
    ends = [e.get("data") for e in read_events(files["events"]) if e.get("code") == 3]
    check(ends == ["USERDISCONNECTING"], f"event 3 of session 1: {ends}")
    nothing_left(host, host.work)
    log(f"session 1 done: {output.strip().splitlines()[-1] if output.strip() else ''}")


def second_session(x, panel, args, work, files):
    events_before = len(read_events(files["events"]))
    goodbyes = panel.requests("Panel Goodbye")
    host = Host(args.host, x, work, "session2", files["settings"], files["data"], files["events"], files["history"])
    try:
        window = x.wait_window("Panel Communication*")
        time.sleep(1.0)
        x.keys(window, "Return")
        # The data file now holds the panel's data: no "Panel Sync" this time.
        x.wait_window("Quarvo - " + PANEL)
        check(x.find("Panel Sync") is None, "the data file received in session 1 still differs")
        host.note_segments()
        log("session 2: SIGTERM during a history read")
        SessionWindow(x).press("History")
        x.press("History Events", "Down", "Return")
        start = panel.requests("Request Event Log")
        wait_until("a few history reads", lambda: panel.requests("Request Event Log") >= start + 3)
        host.note_segments()
        host.process.send_signal(signal.SIGTERM)
        status = host.wait()
        output = host.output()
        check(status == 143, f"SIGTERM: exit status {status}, not 143: {output}")
        check("signal 15" in output, f"no word of the signal: {output}")
        check(panel.requests("Panel Goodbye") == goodbyes + 1, "no goodbye after SIGTERM")
        later = read_events(files["events"])[events_before:]
        check(not [e for e in later if e.get("code") == 3], "an aborted interactive session raised event 3")
        check([e.get("code") for e in later if e.get("code") in (2, 12)] == [2, 2],
              "the link is told twice (end of the handshake, return of the dialog)")
        nothing_left(host, host.work)
    except Failure:
        print(f"windows open: {x.titles()}; the screen is in session2-failure.png", file=sys.stderr)
        x.screenshot(os.path.join(work, "session2-failure.png"))
        host.backtrace(os.path.join(work, "session2-failure.gdb"))
        raise
    finally:
        host.stop()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--host", required=True, help="the quarvo-host program")
    parser.add_argument("--sim", required=True, help="the quarvo-panelsim program")
    parser.add_argument("--keep", action="store_true", help="keep the work folder")
    args = parser.parse_args()
    signal.signal(signal.SIGTERM, _terminated)
    signal.signal(signal.SIGINT, _terminated)

    work = tempfile.mkdtemp(prefix="quarvo-x11-")
    x = panel = None
    ok = False
    try:
        x = XServer(work)
        log(f"X server {x.name}, work folder {work}")
        panel = Panel(args.sim, work)
        files = {"settings": os.path.join(work, "site.json"), "data": os.path.join(work, "site.qpd"),
                 "events": os.path.join(work, "events.jsonl"), "history": os.path.join(work, "history.jsonl")}
        with open(files["settings"], "w") as f:
            json.dump({"AccountName": "1234", "LinkType": "network", "RemoteHost": "127.0.0.1", "PanelPort": panel.port,
                       "Passcode": "123456", "LinkKey": KEY, "PanelName": PANEL,
                       "DataLocks": [{"Value": 4660, "Name": "Office", "Number": 1, "Key": "PRIMARY"}]}, f)
        os.chmod(files["settings"], 0o600)
        # The component's own store: transfers polled every 50 ms instead of 500 (a receive of all
        # 213 blocks takes seconds, not minutes), a keep-alive every second, and the transfer
        # file in the work folder.
        store = os.path.join(work, "store", "Norvane")
        os.makedirs(store)
        with open(os.path.join(store, "Tamsel.ini"), "w") as f:
            f.write(f"[Communications]\nStandardPollRate=50\nHBInterval=1000\n\n[Setup]\nTamselPath={os.path.join(work, 'tamsel')}\n")

        first_session(x, panel, args, work, files)
        second_session(x, panel, args, work, files)

        panel.stop()
        with open(panel.data_path, "rb") as f:
            check(data_items(files["data"]) == f.read(), "the received data file differs from the panel's data")
        ok = True
        log("passed")
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        for name in ("session1.err", "session2.err", "panel.out"):
            path = os.path.join(work, name)
            if os.path.exists(path):
                with open(path, errors="replace") as f:
                    print(f"--- {name} (end)\n" + "".join(f.readlines()[-15:]), file=sys.stderr)
    finally:
        if panel:
            panel.stop()
        if x:
            x.stop()
        if ok and not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        else:
            print(f"work folder kept: {work}", file=sys.stderr)
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
