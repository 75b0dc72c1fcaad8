# pxctl serve's VXI-11 channel and DNS-SD announcements as VISA and lxi-tools
# find and use them. rpcbind, a D-Bus system bus and the Avahi daemon run in a
# network and mount namespace of the test's own (loopback only, with
# multicast; a /run of its own), so the registration, the portmapper's
# answers, lxi's broadcast and the multicast DNS never leave it. Needs root
# (the namespace), rpcbind, dbus-daemon and avahi-daemon.
import ctypes
import os
import re
import shutil
import socket
import struct
import subprocess
import threading
import time

import pytest
import pyvisa
from pyvisa_py.protocols import vxi11

import test_scpi

CLONE_NEWNS = 0x00020000
CLONE_NEWNET = 0x40000000
MS_REC = 0x4000
MS_PRIVATE = 1 << 18


def enter_namespace():
    """Moves this process into a network and mount namespace with loopback up
    and a /run of its own; returns why not, or None."""
    if os.geteuid() != 0:
        return "needs root for a network namespace"
    if shutil.which("rpcbind") is None:
        return "rpcbind is not installed"
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(CLONE_NEWNET | CLONE_NEWNS) != 0:
        return "unshare: " + os.strerror(ctypes.get_errno())
    if libc.mount(b"none", b"/", None, MS_REC | MS_PRIVATE, None) != 0:
        return "making / private: " + os.strerror(ctypes.get_errno())
    if libc.mount(b"tmpfs", b"/run", b"tmpfs", 0, None) != 0:
        return "a /run of its own: " + os.strerror(ctypes.get_errno())
    subprocess.run(["ip", "link", "set", "lo", "up", "multicast", "on"], check=True)
    return None


BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=/run/dbus/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/> <allow own="*"/>
    <allow send_type="method_call"/> <allow send_type="signal"/>
    <allow send_type="method_return"/> <allow send_type="error"/>
    <allow receive_type="method_call"/> <allow receive_type="signal"/>
    <allow receive_type="method_return"/> <allow receive_type="error"/>
  </policy>
</busconfig>
"""

AVAHI_CONFIG = """[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=lo
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
"""


def wait_for(path, process, what):
    deadline = time.monotonic() + 10
    while not os.path.exists(path):
        assert process.poll() is None and time.monotonic() < deadline, what + " did not start"
        time.sleep(0.05)


@pytest.fixture(scope="module")
def portmapper(tmp_path_factory):
    why = enter_namespace()
    if why:
        pytest.skip(why)
    started = []
    rpcbind = subprocess.Popen(["rpcbind", "-f", "-w"], stderr=subprocess.PIPE)
    started.append(rpcbind)
    wait_for("/run/rpcbind.sock", rpcbind, "rpcbind")
    if shutil.which("dbus-daemon") and shutil.which("avahi-daemon"):
        config = tmp_path_factory.mktemp("services")
        (config / "bus.conf").write_text(BUS_CONFIG)
        (config / "avahi.conf").write_text(AVAHI_CONFIG)
        os.makedirs("/run/dbus")
        os.makedirs("/run/avahi-daemon")
        bus = subprocess.Popen(["dbus-daemon", "--nofork", "--config-file", str(config / "bus.conf")],
                               stderr=subprocess.DEVNULL)
        started.append(bus)
        wait_for("/run/dbus/system_bus_socket", bus, "dbus-daemon")
        avahi = subprocess.Popen(["avahi-daemon", "--no-drop-root", "--no-chroot", "--no-rlimits", "-f",
                                  str(config / "avahi.conf")], stderr=subprocess.DEVNULL)
        started.append(avahi)
        # Ready once it answers on the bus.
        deadline = time.monotonic() + 10
        while subprocess.run(["dbus-send", "--system", "--print-reply", "--dest=org.freedesktop.Avahi", "/",
                              "org.freedesktop.Avahi.Server.GetVersionString"], capture_output=True).returncode != 0:
            assert avahi.poll() is None and time.monotonic() < deadline, "avahi-daemon did not start"
            time.sleep(0.1)
    yield
    for process in reversed(started):
        process.terminate()
        process.wait(timeout=10)


class Server(test_scpi.Server):
    """test_scpi's server, with the VXI-11 channel's port and what it said of
    the portmapper and of DNS-SD."""

    def __init__(self, pxctl, options=()):
        super().__init__(pxctl, options=options)
        found = re.search(r"; VXI-11 on 127\.0\.0\.1:(\d+);", self.first)
        assert found, self.first
        self.raw_port, self.vxi11_port = self.port, int(found.group(1))
        self.registration = self.process.stderr.readline()
        self.announcement = self.process.stderr.readline() if "--no-announce" not in options else ""

    def raw(self):
        return socket.create_connection(("127.0.0.1", self.raw_port), timeout=10)


@pytest.fixture
def server(pxctl, portmapper):
    s = Server(pxctl)
    yield s
    if s.process.poll() is None:
        s.stop()


def instr(resource="TCPIP::127.0.0.1::INSTR"):
    return pyvisa.ResourceManager("@py").open_resource(resource, read_termination="\n", write_termination="\n",
                                                        timeout=5000)


def registered():
    out = subprocess.run(["rpcinfo", "-p", "127.0.0.1"], capture_output=True, text=True, check=True).stdout
    return [line.split() for line in out.splitlines() if line.split()[:1] == ["395183"]]


def test_it_registers_with_the_portmapper_and_withdraws_on_exit(server):
    assert "registered with the portmapper" in server.registration
    assert registered() == [["395183", "1", "tcp", str(server.vxi11_port)]]
    server.stop()
    assert registered() == []


def test_visa_opens_the_instr_resource_and_lxi_answers_without_raw(server, pxctl):
    version = subprocess.run([pxctl, "--version"], capture_output=True, text=True).stdout.split()[1]
    for name in ("TCPIP::127.0.0.1::INSTR", "TCPIP0::127.0.0.1::inst0::INSTR"):
        i = instr(name)
        assert i.query("*IDN?") == f"px77xx,PX7702_RevA,sim,{version}"
        i.write("WIP1 200")
        assert i.query("WIP1?") == "200"
        i.close()
    lxi = subprocess.run(["lxi", "scpi", "-a", "127.0.0.1", "WIP1?"], capture_output=True, text=True, timeout=30)
    assert lxi.stdout.strip() == "200", lxi.stderr


def test_lxi_discover_finds_it_through_the_portmapper(server):
    # Broadcast on each interface; the namespace has loopback alone.
    out = subprocess.run(["lxi", "discover", "-t", "2"], capture_output=True, text=True, timeout=60).stdout
    assert 'Found "px77xx,PX7702_RevA,sim,' in out and "on address 127.0.0.1" in out, out


def browse():
    out = subprocess.run(["lxi", "discover", "-m", "-t", "2"], capture_output=True, text=True, timeout=60).stdout
    return re.findall(r'Found "(.*)" on address (\S+)\n\s+(\S+) service on port (\d+)', out)


@pytest.mark.skipif(shutil.which("avahi-daemon") is None, reason="avahi-daemon is not installed")
def test_it_is_announced_over_dns_sd_while_it_serves_and_withdrawn_after(server, pxctl):
    assert server.announcement.startswith('pxctl: serve: announced over DNS-SD as "px77xx PX7702_RevA on sim" on lo'), \
        server.announcement
    name = "px77xx PX7702_RevA on sim"
    want = sorted([(name, "127.0.0.1", "lxi", str(server.raw_port)),
                   (name, "127.0.0.1", "scpi-raw", str(server.raw_port)),
                   (name, "127.0.0.1", "vxi-11", "111")])
    # A loaded machine may resolve a service after lxi's 2 s: browse again.
    deadline = time.monotonic() + 20
    found = sorted(browse())
    while found != want and time.monotonic() < deadline:
        found = sorted(browse())
    assert found == want
    # A second server on the same board and port: a name of its own.
    second = Server(pxctl)
    assert 'as "px77xx PX7702_RevA on sim #2"' in second.announcement, second.announcement
    second.stop()
    server.stop()
    # The daemon sends its goodbyes as each client goes.
    deadline = time.monotonic() + 20
    while browse() and time.monotonic() < deadline:
        time.sleep(0.5)
    assert browse() == []
    quiet = Server(pxctl, ["--no-announce"])
    assert browse() == []
    quiet.stop()


def test_errors_and_status_are_the_raw_sockets(server):
    i = instr()
    i.write("WIP1 300")
    assert i.read_stb() == 0x04  # EAV
    with server.raw() as raw:  # one error queue for both channels
        raw.sendall(b"SYST:ERR?\n")
        assert raw.recv(200) == b'-222,"Data out of range;300 (0..255)"\n'
    assert i.read_stb() == 0
    i.write("*IDN?")
    assert i.read_stb() == 0x10  # MAV: the answer waits for this link
    i.clear()
    assert i.read_stb() == 0
    i.write("WIP1?;BOGUS?")
    assert i.read() == "0;9.91E37"  # every query answered (WIP1 300 was refused)
    assert i.query("SYST:ERR?").startswith("-113,")
    i.close()


def test_a_lock_holds_other_links_until_released_or_their_lock_timeout(server):
    a, b = instr(), instr()
    a.lock_excl()
    with pytest.raises(pyvisa.VisaIOError):
        b.write("WIP1 9")
    a.write("WIP1 7")
    a.unlock()
    b.write("WIP1 9")
    assert a.query("WIP1?") == "9"
    a.close()
    b.close()

    # With waitlock, device_lock waits up to lock_timeout: for the holder to
    # let go, or in vain.
    holder, waiter = vxi11.CoreClient("127.0.0.1"), vxi11.CoreClient("127.0.0.1")
    _, held, _, _ = holder.create_link(1, 1, 0, "inst0")
    _, waiting, _, _ = waiter.create_link(2, 0, 0, "inst0")
    start = time.monotonic()
    assert waiter.device_lock(waiting, vxi11.OP_FLAG_WAIT_BLOCK, 300) == vxi11.ErrorCodes.device_locked_by_another_link
    assert 0.25 < time.monotonic() - start < 3
    letting_go = threading.Timer(0.3, lambda: holder.device_unlock(held))
    letting_go.start()
    start = time.monotonic()
    assert waiter.device_lock(waiting, vxi11.OP_FLAG_WAIT_BLOCK, 5000) == 0
    assert 0.25 < time.monotonic() - start < 3
    letting_go.join()  # its reply read before the holder's next call
    assert holder.device_lock(held, 0, 0) == vxi11.ErrorCodes.device_locked_by_another_link
    # Closing the holder's connection lets its lock go.
    waiter.close()
    assert holder.device_lock(held, vxi11.OP_FLAG_WAIT_BLOCK, 5000) == 0
    holder.close()


def test_device_abort_on_the_abort_channel_ends_a_wait_for_the_lock(server):
    holder, waiter = vxi11.CoreClient("127.0.0.1"), vxi11.CoreClient("127.0.0.1")
    holder.create_link(1, 1, 0, "inst0")
    error, waiting, abort_port, _ = waiter.create_link(2, 0, 0, "inst0")
    assert error == 0 and abort_port not in (0, server.vxi11_port)
    result = []
    waiting_thread = threading.Thread(
        target=lambda: result.append(waiter.device_lock(waiting, vxi11.OP_FLAG_WAIT_BLOCK, 20000)))
    start = time.monotonic()
    waiting_thread.start()
    time.sleep(0.3)
    with socket.create_connection(("127.0.0.1", abort_port), timeout=10) as abort:
        answer = reply_to(abort, record(1, 0x0607B0, 1, 1, struct.pack(">i", waiting)))
        assert struct.unpack(">Ii", answer[20:28]) == (0, 0)
    waiting_thread.join(timeout=10)
    assert result == [vxi11.ErrorCodes.abort] and time.monotonic() - start < 5
    waiter.close()
    holder.close()


def record(xid, program, version, procedure, args=b""):
    body = struct.pack(">6I4I", xid, 0, 2, program, version, procedure, 0, 0, 0, 0) + args
    return struct.pack(">I", 0x80000000 | len(body)) + body


def reply(sock):
    mark = b""
    while len(mark) < 4:
        chunk = sock.recv(4 - len(mark))
        if not chunk:
            return None
        mark += chunk
    size = struct.unpack(">I", mark)[0] & 0x7FFFFFFF
    data = b""
    while len(data) < size:
        data += sock.recv(size - len(data))
    return data


def create_link(sock, xid=1):
    name = b"inst0"
    answer = reply_to(sock, record(xid, 0x0607AF, 1, 10, struct.pack(">iII", 1, 0, 0) + struct.pack(">I", 5) + name + b"\0" * 3))
    return struct.unpack(">iiII", answer[24:40])


def reply_to(sock, data):
    sock.sendall(data)
    return reply(sock)


def closed(sock):
    sock.settimeout(10)
    try:
        return sock.recv(100) == b""
    except ConnectionResetError:
        return True


def truncated_record(s, sock):
    sock.sendall(record(1, 0x0607AF, 1, 10)[:20])
    sock.shutdown(socket.SHUT_WR)
    assert closed(sock)


def oversized_record(s, sock):
    sock.sendall(struct.pack(">I", 0x80000000 | (1 << 30)) + b"x" * 1000)
    assert closed(sock)


def wrong_program_version_and_procedure(s, sock):
    assert struct.unpack(">I", reply_to(sock, record(7, 100003, 3, 0))[20:24])[0] == 1  # PROG_UNAVAIL
    assert struct.unpack(">3I", reply_to(sock, record(8, 0x0607AF, 9, 0))[20:32]) == (2, 1, 1)  # PROG_MISMATCH 1..1
    assert struct.unpack(">I", reply_to(sock, record(9, 0x0607AF, 1, 77))[20:24])[0] == 3  # PROC_UNAVAIL


def a_link_never_created(s, sock):
    answer = reply_to(sock, record(3, 0x0607AF, 1, 11, struct.pack(">iIIiI", 424242, 0, 0, 8, 4) + b"WIP1"))
    assert struct.unpack(">iI", answer[24:32]) == (4, 0)


def a_thousand_links(s, sock):
    errors = [create_link(sock, xid)[0] for xid in range(1000)]
    assert errors.count(0) == 32 and errors.count(9) == 968


def never_reads(s, sock):
    # Calls sent without a reply read: the server stops reading, then closes it.
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
    call = record(5, 0x0607AF, 1, 0)
    sent = 0
    sock.settimeout(0.5)
    try:
        while sent < 50_000_000:
            sock.sendall(call * 1000)
            sent += len(call) * 1000
    except (socket.timeout, BlockingIOError, ConnectionResetError, BrokenPipeError):
        pass
    assert sent < 50_000_000
    sock.settimeout(15)
    time.sleep(6)  # the server gives an unread client 5 s
    try:
        while sock.recv(1 << 16):
            pass
    except ConnectionResetError:
        pass


HOSTILE = [truncated_record, oversized_record, wrong_program_version_and_procedure, a_link_never_created,
           a_thousand_links, never_reads]


@pytest.mark.parametrize("hostile", HOSTILE, ids=[h.__name__ for h in HOSTILE])
def test_a_hostile_vxi11_client_leaves_the_server_serving_the_next(server, hostile):
    before = server.memory_kb()
    with socket.create_connection(("127.0.0.1", server.vxi11_port), timeout=10) as sock:
        hostile(server, sock)
    i = instr()
    assert i.query("*OPC?") == "1"
    i.close()
    assert server.process.poll() is None
    assert server.memory_kb() < before + 8 * 1024


def test_without_a_portmapper_it_says_the_port_must_be_given(pxctl, portmapper):
    # A namespace of its own again, where no rpcbind runs.
    out = subprocess.run(["unshare", "--net", "--mount", "sh", "-c",
                          "ip link set lo up && mount -t tmpfs tmpfs /run && "
                          f"exec timeout -s TERM 2 {pxctl} --port sim serve --listen 127.0.0.1:0 --vxi11 127.0.0.1:0"],
                         capture_output=True, text=True, timeout=30)
    assert re.search(r"VXI-11 not registered with the portmapper \(no portmapper \(rpcbind\) runs here\): VXI-11 "
                     r"clients must be given port \d+", out.stderr), out.stderr
    assert "not announced: the Avahi daemon does not run here" in out.stderr, out.stderr
