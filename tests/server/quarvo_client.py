#!/usr/bin/python3
"""A small Quarvo client in Python, and the checks of quarvo-server that use it.

The client exports the host's callback, settings and panel-data objects on its own bus connection
(served by the GLib main loop) and calls the server asynchronously, so the server can call those
objects while one of the client's calls is still waiting for its reply.

Run on a private session bus whose service folder starts the server, e.g.
    dbus-run-session --config-file=BUS.conf -- quarvo_client.py receive --sim build/sim/quarvo-panelsim
Checks: introspect, receive, unattended, kill, long, shutdown, host, leave, bare. Each exits 0 when it held, 1 otherwise.
"""
import argparse
import json
import os
import re
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ET

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

SERVICE = 'com.norvane.Quarvo'
OBJECT = '/com/norvane/Quarvo'
ZELCOMM = 'com.norvane.Quarvo.ZelComm'
HOST = 'com.norvane.Quarvo.Host'
# A long operation replies when the operator is done: wait as long as it takes.
FOREVER = 7 * 24 * 3600.0
LINK_KEY = 'Quarvo-dbus-test-key-32-chars-ok'
PASSCODE = '123456'
# Bytes per record of each item (item 1 of panel type 1): where a block of an item lies.
RECORD = [2, 75, 72, 30, 72, 28, 183, 8, 14, 104, 8, 128, 4, 8, 104, 72, 144, 12, 20]


def plain(value):
    """Event data as Python values; an empty array is an argument that was not given (None)."""
    if isinstance(value, dbus.Array):
        if value.signature == 'y':
            return bytes(value)
        items = [plain(v) for v in value]
        return items if items else None
    if isinstance(value, dbus.Boolean):
        return bool(value)
    if isinstance(value, (dbus.String, dbus.ObjectPath)):
        return str(value)
    if isinstance(value, (dbus.Byte, dbus.Int16, dbus.Int32, dbus.Int64, dbus.UInt16, dbus.UInt32, dbus.UInt64)):
        return int(value)
    return value


def no_gate():
    pass


class Callback(dbus.service.Object):
    def __init__(self, conn, path):
        super().__init__(conn, path)
        self.events = []
        self.gate = no_gate

    @dbus.service.method(HOST + '.Callback', in_signature='ivas')
    def ZelCommEvent(self, code, data, source):
        self.gate()
        self.events.append((int(code), plain(data), [str(s) for s in source]))

    def names(self):
        """Events as 'code' or '5:TAG', in order."""
        return ['5:%s' % d[0] if c == 5 else str(c) for c, d, _ in self.events]


class Settings(dbus.service.Object):
    def __init__(self, conn, path, port):
        super().__init__(conn, path)
        self.values = {
            'AccountName': 'dbus-check', 'LinkKey': LINK_KEY, 'LinkKeyMode': 0,
            'RemoteHost': '127.0.0.1', 'HostDataMode': True, 'ResponseTimeout': '4',
            'TimeOffsetHours': 0, 'PanelType': 1, 'DataLockCount': 1, 'DataBits': 8, 'Parity': 'N',
            'StopBits': 1, 'PostDialString': '', 'ResetCmd': 'ATZ', 'PanelName': 'Python host',
            'BaudRate': 9600, 'ComPort': 1, 'InitString': 'AT&F', 'PanelPhone': '', 'VoicePhone': '',
            'Passcode': PASSCODE, 'PanelPort': str(port), 'ExpectedPanelStatus': 0,
        }
        self.lock = (True, 0x1234, 0, 'Python installer', 1)
        self.gate = no_gate

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='ss', out_signature='v')
    def Get(self, interface, name):
        self.gate()
        return self.values[str(name)]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='ssv')
    def Set(self, interface, name, value):
        self.values[str(name)] = plain(value)

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature='s', out_signature='a{sv}')
    def GetAll(self, interface):
        return self.values

    @dbus.service.method(HOST + '.Settings', in_signature='i', out_signature='biisi')
    def DataLock(self, position):
        self.gate()
        return self.lock if position == 1 else (False, 0, 0, '', 0)

    @dbus.service.method(HOST + '.Settings', in_signature='s', out_signature='biisi')
    def DataLockByKey(self, key):
        self.gate()
        return self.lock if key == 'PRIMARY' else (False, 0, 0, '', 0)


class Pif(dbus.service.Object):
    """Panel data held per item; a location is item * 65536 + the byte offset of the record."""

    def __init__(self, conn, path):
        super().__init__(conn, path)
        self.items = {}
        self.writes = 0
        self.transfer_files = []

    @dbus.service.method(HOST + '.Pif', in_signature='s', out_signature='bnn')
    def Item(self, key):
        data = self.items.get(int(key))
        return (False, 0, 0) if data is None else (True, len(data), 1)

    @dbus.service.method(HOST + '.Pif', in_signature='ni', out_signature='i')
    def Locate(self, item, start):
        return item * 65536 + start * RECORD[item]

    @dbus.service.method(HOST + '.Pif', in_signature='ii', out_signature='ay')
    def Read(self, location, length):
        data = self.items.get(location // 65536, bytearray())
        start = location % 65536
        return dbus.ByteArray(bytes(data[start:start + length]))

    @dbus.service.method(HOST + '.Pif', in_signature='ayi')
    def Write(self, data, location):
        item = self.items.setdefault(location // 65536, bytearray())
        start = location % 65536
        if len(item) < start + len(data):
            item.extend(bytes(start + len(data) - len(item)))
        item[start:start + len(data)] = bytes(data)
        self.writes += 1

    @dbus.service.method(HOST + '.Pif', in_signature='iii', out_signature='i')
    def QueryConnectionType(self, a, b, c):
        return 0

    @dbus.service.method(HOST + '.Pif', in_signature='iiii', out_signature='ii')
    def AcceptDataLock(self, lock, a, b, c):
        return 0, lock

    @dbus.service.method(HOST + '.Pif', in_signature='s')
    def TakeTransferFile(self, path):
        self.transfer_files.append(str(path))

    @dbus.service.method(HOST + '.Pif', in_signature='')
    def FinishSend(self):
        pass

    @dbus.service.method(HOST + '.Pif', in_signature='', out_signature='s')
    def Passcode(self):
        return PASSCODE


class Client:
    """One host: its objects on its own connection, and asynchronous calls to the server."""

    def __init__(self, port=0, conn=None):
        self.conn = conn or dbus.SessionBus()
        self.callback = Callback(self.conn, '/host/callback')
        self.settings = Settings(self.conn, '/host/settings', port)
        self.pif = Pif(self.conn, '/host/pif')
        self.server = self.conn.get_object(SERVICE, OBJECT, introspect=False)
        self.leave_at_next_call = False
        self.left = False
        self.callback.gate = self.settings.gate = self._gate

    def _gate(self):
        """Leaves the bus, unanswered, at the server's first call into the client once asked to."""
        if self.leave_at_next_call and not self.left:
            self.left = True
            self.conn.close()
            raise dbus.DBusException('the client has left')

    def start(self, method, *args):
        """Sends a call; returns a box that fills with ('reply', value) or ('error', exception)."""
        box = []
        getattr(self.server, method)(
            *args, dbus_interface=ZELCOMM, timeout=FOREVER,
            reply_handler=lambda *r: box.append(('reply', r[0] if r else None)),
            error_handler=lambda e: box.append(('error', e)))
        return box

    def call(self, method, *args, limit=60.0):
        box = self.start(method, *args)
        if not run_until(lambda: box, limit):
            raise AssertionError('%s: no reply within %.0f s' % (method, limit))
        kind, value = box[0]
        if kind == 'error':
            raise value
        return value

    def hand_over(self):
        self.call('SetCallBack', dbus.ObjectPath('/host/callback'))
        self.call('SetSettings', dbus.ObjectPath('/host/settings'))
        self.call('SetPif', dbus.ObjectPath('/host/pif'))

    def server_pid(self):
        return int(self.conn.get_object('org.freedesktop.DBus', '/org/freedesktop/DBus').GetConnectionUnixProcessID(
            SERVICE, dbus_interface='org.freedesktop.DBus'))


def run_until(done, limit):
    """Runs the main loop until done() or `limit` seconds passed; returns done()."""
    loop = GLib.MainLoop()
    deadline = time.monotonic() + limit

    def tick():
        if done() or time.monotonic() > deadline:
            loop.quit()
            return False
        return True

    if not done():
        GLib.timeout_add(20, tick)
        loop.run()
    return bool(done())


def process_gone(pid, limit):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if not os.path.exists('/proc/%d' % pid) or open('/proc/%d/stat' % pid).read().split()[2] == 'Z':
            return True
        time.sleep(0.05)
    return False


def segments_of(pid):
    """Record names the server process created, from its index file under /dev/shm."""
    try:
        lines = open('/dev/shm/quarvo-segments.%d' % pid).read().splitlines()[1:]
    except OSError:
        return set()
    return {line[1:] for line in lines if line.startswith('+')}


class Panel:
    """The panel simulator on UDP, as a process, with its JSON trace."""

    def __init__(self, sim, trace, *extra):
        self.trace_path = trace
        if os.path.exists(trace):
            os.remove(trace)  # the simulator appends
        self.proc = subprocess.Popen([sim, '--mode', 'network', '--link-key', LINK_KEY, '--passcode', PASSCODE,
                                      '--trace', trace, *extra], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        # "quarvo-panelsim: network panel on UDP 127.0.0.1:PORT ..."
        found = re.search(r'127\.0\.0\.1:(\d+)', self.proc.stdout.readline())
        if not found:
            self.stop()
            raise AssertionError('the panel simulator did not start')
        self.port = int(found.group(1))

    def count(self, name):
        """Requests named `name` that the panel received (the trace: one JSON object a line)."""
        try:
            lines = open(self.trace_path).read().splitlines()
        except OSError:
            return 0
        count = 0
        for line in lines:
            try:
                entry = json.loads(line)
            except ValueError:
                continue  # a line still being written
            count += entry.get('dir') == 'in' and name in entry.get('decoded', '')
        return count

    def stop(self):
        self.proc.terminate()
        try:
            self.proc.wait(5)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


class Checks:
    def __init__(self):
        self.failures = []

    def expect(self, ok, what):
        print(('ok    ' if ok else 'FAIL  ') + what, flush=True)
        if not ok:
            self.failures.append(what)
        return ok


def check_introspect(args, c):
    """The activated server lists the interface's 18 methods in order, as the repository's XML does."""
    out = subprocess.run(['gdbus', 'introspect', '--session', '--dest', SERVICE, '--object-path', OBJECT, '--xml'],
                         capture_output=True, text=True, timeout=60).stdout

    def methods(root):
        iface = root.find("interface[@name='%s']" % ZELCOMM)
        if iface is None:
            return []
        # Per method: its name, its in-arguments (type and name) and its out-types, each in order.
        return [(m.get('name'),
                 [(a.get('type'), a.get('name')) for a in m.findall('arg') if a.get('direction', 'in') == 'in'],
                 [a.get('type') for a in m.findall('arg') if a.get('direction') == 'out'])
                for m in iface.findall('method')]

    live = methods(ET.fromstring(out)) if out else []
    kept = methods(ET.parse(args.xml).getroot())
    c.expect(len(live) == 18, 'the activated server lists 18 operations (%d)' % len(live))
    c.expect(live == kept, 'they match %s in order, names and types' % os.path.basename(args.xml))
    pid = Client().server_pid()
    c.expect(process_gone(pid, 20), 'the server ends by itself when no client comes')


def connect_and_check(client, c):
    """CommStartup on the network link; returns the events up to its reply."""
    result = client.call('CommStartup', limit=60)
    c.expect(result == 0, 'CommStartup returned 0 (%s)' % result)
    return list(client.callback.names())


def check_receive(args, c):
    panel = Panel(args.sim, os.path.join(args.work, 'receive-trace.json'))
    try:
        client = Client(panel.port)
        client.hand_over()
        c.expect(str(client.call('GetPif')) == '/host/pif', 'GetPif gives back the path handed over')
        names = connect_and_check(client, c)
        # Before CommStartup's reply: the handshake's events, then the check's window opening.
        c.expect(names[:3] == ['5:SET_DATALOCK', '2', '5:GET_REV'] and names[-1] == '6',
                 'connection events in order, before the reply: %s' % names)
        # The operator stand-in answers "Panel Sync" with receive: every item comes from the panel.
        run_until(lambda: '5:RECV_END' in client.callback.names(), 60)
        names = client.callback.names()
        c.expect(names[names.index('6'):] == ['6', '10', '5:RECV_END'], 'synchronisation events in order: %s' % names)
        # 213 blocks: item 0 comes with "Request Data Lock", the others by block.
        run_until(lambda: panel.count('Request Item Block') == 212, 5)
        c.expect(panel.count('Request Item Block') == 212, 'every item block read (%d)' % panel.count('Request Item Block'))
        c.expect(len(client.pif.items) == 19 and client.pif.writes == 213, 'the host holds the 19 items (%d writes)' % client.pif.writes)
        c.expect(client.pif.transfer_files and client.pif.transfer_files[0].endswith('tempdat.000'), 'the transfer file was handed over')
        event10 = [d for code, d, _ in client.callback.events if code == 10]
        c.expect(event10 == client.pif.transfer_files, 'event 10 carries its path')
        tag = [d for code, d, _ in client.callback.events if code == 5][-1]
        c.expect(tag == ['RECV_END', 0, None, 'Quarvo'], 'a tagged notification: tag, value, missing extra, name: %s' % tag)
        # What was written through the bus is what the panel holds: a second check finds nothing to do.
        before = len(client.callback.events)
        c.expect(client.call('CommSendReceive') == 0, 'CommSendReceive returned 0')
        run_until(lambda: '7' in client.callback.names()[before:], 30)
        c.expect(client.callback.names()[before:] == ['6', '7'], 'the second check finds every item equal: %s' % client.callback.names()[before:])
        c.expect(panel.count('Request Item Block') == 212, 'and reads no block again')

        pid = client.server_pid()
        seen = segments_of(pid)
        c.expect(client.call('CommShutdown', True) == 0, 'CommShutdown(True) returned 0')
        run_until(lambda: panel.count('Panel Goodbye') == 1, 10)
        c.expect(panel.count('Panel Goodbye') == 1, 'the panel got the goodbye')
        client.conn.close()
        c.expect(process_gone(pid, 20), 'the server ends after its client left')
        left = [n for n in seen | segments_of(pid) if os.path.exists('/dev/shm/' + n.lstrip('/'))]
        c.expect(not left and not os.path.exists('/dev/shm/quarvo-segments.%d' % pid), 'no record left under /dev/shm')
    finally:
        panel.stop()


def check_unattended(args, c):
    """DoUnattended(receive) from Python against the real server: host events in order, the panel's data."""
    saved = os.path.join(args.work, 'panel.bin')
    panel = Panel(args.sim, os.path.join(args.work, 'unattended-trace.json'), '--save-data', saved)
    try:
        client = Client(panel.port)
        client.hand_over()
        pid = client.server_pid()
        c.expect(client.call('DoUnattended', 16) == 0, 'DoUnattended(16) returned 0')
        run_until(lambda: '3' in client.callback.names(), 90)
        names = client.callback.names()
        upto_end = names[:names.index('3') + 1] if '3' in names else names
        c.expect(upto_end == ['5:SET_DATALOCK', '2', '5:GET_REV', '10', '5:RECV_END', '3'], 'host events in order: %s' % names)
        ending = [(d, s) for code, d, s in client.callback.events if code == 3]
        c.expect(ending == [('SUCCESS', ['dbus-check'])], 'one SUCCESS, from the account: %s' % ending)
        run_until(lambda: panel.count('Panel Goodbye') == 1, 10)
        c.expect(panel.count('Panel Goodbye') == 1, 'the session said goodbye')
        client.conn.close()
        c.expect(process_gone(pid, 20), 'the server ends after its client left')
        panel.stop()
        held = b''.join(bytes(client.pif.items.get(item, b'')) for item in range(19))
        c.expect(os.path.exists(saved) and held == open(saved, 'rb').read(), 'the host holds the panel\'s data byte for byte')
    finally:
        panel.stop()


def check_kill(args, c):
    """A client killed mid-transfer: goodbye to the panel, records freed, the server ends."""
    panel = Panel(args.sim, os.path.join(args.work, 'kill-trace.json'))
    try:
        env = dict(os.environ, QUARVO_CHECK_PORT=str(panel.port))
        child = subprocess.Popen([sys.executable, __file__, 'kill-victim'], env=env)
        deadline = time.monotonic() + 60
        while panel.count('Request Item Block') < 20 and time.monotonic() < deadline and child.poll() is None:
            time.sleep(0.02)
        watcher = Client()
        pid = watcher.server_pid()
        seen = segments_of(pid)
        c.expect(panel.count('Request Item Block') >= 20 and seen, 'the transfer runs (%d blocks)' % panel.count('Request Item Block'))
        child.send_signal(signal.SIGKILL)
        child.wait()
        killed_at = time.monotonic()
        while panel.count('Panel Goodbye') == 0 and time.monotonic() - killed_at < 10:
            time.sleep(0.02)
        c.expect(panel.count('Panel Goodbye') == 1, 'the panel got the goodbye %.1f s after the kill' % (time.monotonic() - killed_at))
        blocks = panel.count('Request Item Block')
        c.expect(blocks < 213, 'the transfer stopped (%d blocks)' % blocks)
        watcher.conn.close()
        c.expect(process_gone(pid, 20), 'the server ended')
        left = [n for n in seen | segments_of(pid) if os.path.exists('/dev/shm/' + n.lstrip('/'))]
        c.expect(not left and not os.path.exists('/dev/shm/quarvo-segments.%d' % pid), 'no record left under /dev/shm (%s)' % left)
    finally:
        panel.stop()


def kill_victim():
    client = Client(int(os.environ['QUARVO_CHECK_PORT']))
    client.hand_over()
    client.call('CommStartup')
    run_until(lambda: False, 120)  # receives until it is killed


def check_long(args, c):
    """CommStartup held open by the operator: no time-out; meanwhile the bus is served."""
    client = Client()
    client.hand_over()
    started = time.monotonic()
    box = client.start('CommStartup')
    run_until(lambda: box, 2)
    # While it waits: the same client's further calls are served or refused cleanly...
    c.expect(client.call('GetName') == 'Quarvo', 'GetName is served meanwhile')
    c.expect(client.call('DataArrival', dbus.ByteArray(b'\x01\x02')) is None, 'DataArrival is served meanwhile')
    try:
        client.call('CommSendReceive')
        c.expect(False, 'a second long operation is refused')
    except dbus.DBusException as e:
        c.expect(e.get_dbus_name() == 'com.norvane.Quarvo.Error.OperationRunning', 'a second long operation is refused: %s' % e.get_dbus_message())
    # ...and a second client is refused with a clear error.
    other = Client(conn=dbus.bus.BusConnection(os.environ['DBUS_SESSION_BUS_ADDRESS']))
    try:
        other.call('SetCallBack', dbus.ObjectPath('/host/callback'))
        c.expect(False, 'a second client is refused')
    except dbus.DBusException as e:
        c.expect(e.get_dbus_name() == 'com.norvane.Quarvo.Error.Busy', 'a second client is refused: %s' % e.get_dbus_message())
    c.expect(not box, 'CommStartup is still waiting')
    run_until(lambda: box, args.hold + 60)
    held = time.monotonic() - started
    c.expect(box and box[0] == ('reply', 0), 'CommStartup replied 0 after %.0f s: %s' % (held, box))
    c.expect(held >= args.hold, 'the dialog stayed open %d s' % args.hold)
    pid = client.server_pid()
    client.conn.close()
    other.conn.close()
    c.expect(process_gone(pid, 20), 'the server ends after its client left')


def check_shutdown(args, c):
    """CommShutdown(True) while CommStartup waits in its dialog: served at once, and it ends the startup."""
    client = Client()
    client.hand_over()
    box = client.start('CommStartup')
    run_until(lambda: box, 2)
    c.expect(client.call('CommShutdown', True) == 0 and not box, 'CommShutdown(True) is served while CommStartup waits')
    run_until(lambda: box, 20)
    c.expect(box == [('reply', 0)], 'CommStartup then replies 0: %s' % box)
    c.expect(client.callback.names() == ['3'], 'the end of the session reaches the host: %s' % client.callback.names())
    pid = client.server_pid()
    client.conn.close()
    c.expect(process_gone(pid, 20), 'the server ends after its client left')


def check_leave(args, c):
    """A client that leaves the bus right after DoUnattended replied, at the server's next call into it
    (which therefore never gets its answer): the server ends the session as a forced shutdown does
    (goodbye to the panel, records freed) and then ends by itself."""
    watcher = Client()
    for mask in (0, 1, 16, 32):
        panel = Panel(args.sim, os.path.join(args.work, 'leave-%d-trace.json' % mask))
        try:
            client = Client(panel.port, conn=dbus.bus.BusConnection(os.environ['DBUS_SESSION_BUS_ADDRESS']))
            client.hand_over()
            pid = watcher.server_pid()
            box = []
            seen = set()

            def replied(result, box=box, client=client, seen=seen, pid=pid):
                box.append(result)
                seen.update(segments_of(pid))  # the session's records, while it runs
                client.leave_at_next_call = True

            client.server.DoUnattended(mask, dbus_interface=ZELCOMM, timeout=FOREVER, reply_handler=replied,
                                       error_handler=lambda e, box=box: box.append(e))
            run_until(lambda: client.left, 60)
            c.expect(box == [0] and client.left, 'mask %d: DoUnattended replied 0 (%s), then the client left' % (mask, box))
            run_until(lambda: panel.count('Panel Goodbye') >= 1, 20)
            c.expect(panel.count('Panel Goodbye') == 1, 'mask %d: the panel got one goodbye (%d)' % (mask, panel.count('Panel Goodbye')))
            c.expect(process_gone(pid, 30), 'mask %d: the server ends after its client left' % mask)
            # A server that died leaves its list of records behind.
            left = [n for n in seen | segments_of(pid) if os.path.exists('/dev/shm/' + n.lstrip('/'))]
            c.expect(seen and not left and not os.path.exists('/dev/shm/quarvo-segments.%d' % pid),
                     'mask %d: the server ended in order, no record left under /dev/shm (%s)' % (mask, left))
        finally:
            panel.stop()
    watcher.conn.close()


def check_bare(args, c):
    """Operations without the host's objects: an error number at once, never success, a silent
    "UNKNOWN" or a call that never replies."""
    client = Client()
    # No session and no objects: the history window has nothing to read from and nobody to show it to.
    box = client.start('HistoryStartup')
    run_until(lambda: box, 20)
    c.expect(len(box) == 1 and box[0][0] == 'reply' and box[0][1] != 0,
             'HistoryStartup without a session replies an error at once: %s' % box)
    pid = client.server_pid()
    result = client.call('DoUnattended', 16)
    c.expect(result != 0, 'DoUnattended(16) without host objects returns an error (%s)' % result)

    def ends():
        # The session's end reaches the host as the session's windows close, after the reply.
        run_until(lambda: 3 in [code for code, _, _ in client.callback.events], 10)
        run_until(lambda: False, 0.3)  # and nothing more comes
        return [d for code, d, _ in client.callback.events if code == 3]

    client.call('SetCallBack', dbus.ObjectPath('/host/callback'))
    result = client.call('DoUnattended', 16)
    told = ends()
    c.expect(result != 0 and told == ['FAILURE'], 'with only a callback: an error (%s) and one "FAILURE": %s' % (result, told))
    del client.callback.events[:]
    client.call('SetSettings', dbus.ObjectPath('/nowhere/settings'))
    result = client.call('DoUnattended', 16)
    told = ends()
    c.expect(result != 0 and told == ['FAILURE'],
             'with settings at a path that does not exist: an error (%s) and one "FAILURE": %s' % (result, told))
    c.expect(client.server_pid() == pid, 'the same server served every call')
    client.conn.close()
    c.expect(process_gone(pid, 20), 'the server ends after its client left')


def check_host(args, c):
    """quarvo-host unattended --jobs receive, in process and through the server: the same data file."""
    panel = Panel(args.sim, os.path.join(args.work, 'host-trace.json'))
    try:
        settings = os.path.join(args.work, 'host-settings.json')
        with open(os.open(settings, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 'w') as f:
            json.dump({'AccountName': '5150', 'RemoteHost': '127.0.0.1', 'PanelPort': panel.port, 'Passcode': PASSCODE,
                       'LinkKey': LINK_KEY, 'ResponseTimeout': 2,
                       'DataLocks': [{'Value': 0x1234, 'Name': 'Office', 'Number': 1, 'Key': 'PRIMARY'}]}, f)
        # Who owns the server's name, as the bus announces it: the server exists for the second run only.
        bus = dbus.SessionBus()
        owners = []
        bus.add_signal_receiver(lambda name, old, new: owners.append(bool(new)), 'NameOwnerChanged',
                                'org.freedesktop.DBus', arg0=SERVICE)
        runs = {}
        for how, extra in (('in-process', []), ('out-of-process', ['--out-of-process'])):
            data = os.path.join(args.work, how + '.qpd')
            if os.path.exists(data):
                os.remove(data)
            proc = subprocess.Popen([args.host, *extra, 'unattended', '--settings', settings, '--data', data, '--jobs', 'receive'],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            # The bus's signals are taken in while the host runs.
            run_until(lambda: proc.poll() is not None, 180)
            if proc.poll() is None:
                proc.kill()
            out, err = proc.communicate()
            events = [json.loads(line) for line in out.splitlines() if line.strip()]
            runs[how] = (proc.returncode, data, [(e['code'], e.get('tag') or (e.get('data') if e['code'] == 3 else None)) for e in events])
            c.expect(proc.returncode == 0, '%s: exit status 0 (%s): %s' % (how, proc.returncode, err.strip()[-300:]))
            if how == 'in-process':
                run_until(lambda: False, 0.2)
                c.expect(owners == [], 'in process no server was started')
        run_until(lambda: owners == [True, False], 20)
        c.expect(owners == [True, False], 'the bus started the server for --out-of-process, and it ended after the host left')
        inproc, remote = runs['in-process'], runs['out-of-process']
        c.expect(os.path.exists(remote[1]) and open(remote[1], 'rb').read() == open(inproc[1], 'rb').read(),
                 'the same panel data file both ways')
        c.expect(remote[2] == inproc[2] and (3, 'SUCCESS') in remote[2],
                 'the same host events in the same order: %s, in process %s' % (remote[2], inproc[2]))
        c.expect(panel.count('Request Item Block') == 2 * 212, 'each run read every block (%d)' % panel.count('Request Item Block'))
        c.expect(oct(os.stat(remote[1]).st_mode & 0o777) == oct(0o600), 'the data file is the owner\'s only')
    finally:
        panel.stop()


def check_headless(args, c):
    """No display at all (DISPLAY, WAYLAND_DISPLAY and QT_QPA_PLATFORM unset, for the host and for the
    bus that starts the server): quarvo-host unattended --jobs clock,history-all,receive in process and
    through the server. Both programs then run on a core application, where making any window ends the
    process (Qt refuses a widget without a widget application): a run that succeeds made none. The
    headless server refuses the calls that would open a window, with an error that says so."""
    display = [name for name in ('DISPLAY', 'WAYLAND_DISPLAY', 'QT_QPA_PLATFORM') if os.environ.get(name)]
    c.expect(display == [], 'the check runs with no display in its environment (%s)' % display)
    panel = Panel(args.sim, os.path.join(args.work, 'headless-trace.json'))
    try:
        settings = os.path.join(args.work, 'headless-settings.json')
        with open(os.open(settings, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o600), 'w') as f:
            json.dump({'AccountName': '5150', 'RemoteHost': '127.0.0.1', 'PanelPort': panel.port, 'Passcode': PASSCODE,
                       'LinkKey': LINK_KEY, 'ResponseTimeout': 2,
                       'DataLocks': [{'Value': 0x1234, 'Name': 'Office', 'Number': 1, 'Key': 'PRIMARY'}]}, f)
        runs = {}
        for how, extra in (('in-process', []), ('out-of-process', ['--out-of-process'])):
            data = os.path.join(args.work, 'headless-' + how + '.qpd')
            if os.path.exists(data):
                os.remove(data)
            proc = subprocess.Popen([args.host, *extra, 'unattended', '--settings', settings, '--data', data,
                                     '--jobs', 'clock,history-all,receive'],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
            run_until(lambda: proc.poll() is not None, 180)
            if proc.poll() is None:
                proc.kill()
            out, err = proc.communicate()
            events = [json.loads(line) for line in out.splitlines() if line.strip()]
            runs[how] = (data, [(e['code'], e.get('tag') or (e.get('data') if e['code'] == 3 else None)) for e in events])
            c.expect(proc.returncode == 0 and 'QWidget' not in err,
                     '%s: exit status 0 (%s): %s' % (how, proc.returncode, err.strip()[-400:]))
            c.expect('panel clock written' in err and 'history events read' in err and 'received item(s)' in err,
                     '%s: clock, history and receive all done: %s' % (how, err.strip()[-300:]))
        inproc, remote = runs['in-process'], runs['out-of-process']
        c.expect(os.path.exists(remote[0]) and open(remote[0], 'rb').read() == open(inproc[0], 'rb').read(),
                 'the same panel data file both ways')
        c.expect(remote[1] == inproc[1] and remote[1].count((3, 'SUCCESS')) == 1,
                 'the same host events in the same order, one SUCCESS: %s, in process %s' % (remote[1], inproc[1]))
        c.expect(panel.count('Request Item Block') == 2 * 212, 'each run read every block (%d)' % panel.count('Request Item Block'))
    finally:
        panel.stop()
    # The server the bus starts now has no display either: a call that shows a window is refused. The
    # one that served --out-of-process may still be ending its session: a new one is started once it
    # has gone.
    bus = dbus.SessionBus()
    c.expect(run_until(lambda: not bus.name_has_owner(SERVICE), 30),
             'the server of the out-of-process run has ended')
    client = Client()
    pid = client.server_pid()
    for method in ('CommStartup', 'DiagStartup'):
        result = client.call(method)
        c.expect(result != 0, '%s on a server without a display returns an error (%s)' % (method, result))
    c.expect(client.server_pid() == pid, 'the server is still there after the refusals')
    client.conn.close()
    c.expect(process_gone(pid, 20), 'the server ends after its client left')


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument('check', choices=['introspect', 'receive', 'unattended', 'kill', 'long', 'shutdown', 'host', 'leave', 'bare', 'headless',
                                           'kill-victim'])
    parser.add_argument('--sim', help='the panel simulator program')
    parser.add_argument('--xml', help='the interface XML of the repository')
    parser.add_argument('--host', help='the quarvo-host program (host)')
    parser.add_argument('--work', default='.', help='folder for traces')
    parser.add_argument('--hold', type=int, default=30, help='seconds the dialog stays open (long)')
    args = parser.parse_args()
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    if args.check == 'kill-victim':
        kill_victim()
        return 0
    os.makedirs(args.work, exist_ok=True)
    c = Checks()
    checks = {'introspect': check_introspect, 'receive': check_receive, 'kill': check_kill, 'long': check_long,
              'shutdown': check_shutdown, 'host': check_host, 'unattended': check_unattended,
              'leave': check_leave, 'bare': check_bare, 'headless': check_headless}
    checks[args.check](args, c)
    return 1 if c.failures else 0


if __name__ == '__main__':
    sys.exit(main())
