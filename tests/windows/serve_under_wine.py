# pxctl.exe serve as a Windows bench runs it, through wine's Winsock, checked
# from Linux with PyVISA and plain sockets: answers, errors, clients side by
# side, pipelined lines, the client limit, a port already taken, and Ctrl-C.
# Usage: serve_under_wine.py PXCTL.EXE WINE...
import re
import signal
import socket
import subprocess
import sys

import pyvisa
from pyvisa_py.protocols import rpc, vxi11

pxctl, wine = sys.argv[1], sys.argv[2:]
failed = []


def check(name, got, want):
    if got == want:
        print(f"ok {name}")
    else:
        print(f"FAIL {name}: got {got!r}, want {want!r}")
        failed.append(name)


class Server:
    def __init__(self, *options):
        self.process = subprocess.Popen([*wine, pxctl, "--port", "sim", *options, "serve"],
                                        stderr=subprocess.PIPE, text=True)
        self.first = self.process.stderr.readline()
        found = re.search(r"listening on 127\.0\.0\.1:(\d+); VXI-11 on 127\.0\.0\.1:(\d+);", self.first)
        self.port = int(found.group(1)) if found else None
        self.vxi11_port = int(found.group(2)) if found else None
        # Where the VXI-11 channel is registered, and where announced.
        self.registration = self.process.stderr.readline() if found else ""
        self.announcement = self.process.stderr.readline() if found else ""

    def said_until(self, pattern, times=1):
        """Reads the server's lines until pattern has matched times."""
        lines = []
        while times > 0:
            line = self.process.stderr.readline()
            if not line:
                break
            lines.append(line)
            times -= 1 if re.search(pattern, line) else 0
        return lines

    def stop(self):
        # wine turns SIGINT into the console's Ctrl-C event.
        self.process.send_signal(signal.SIGINT)
        said = self.process.communicate(timeout=60)[1]
        return self.process.returncode, said


def read_line(sock):
    return sock.makefile("rb").readline().decode()


s = Server("--listen", "127.0.0.1:0", "--clients", "2")
check("listening", s.port is not None, True)
# Whatever fails below, the server under wine does not outlive the test.
sys.excepthook = lambda *info: (s.process.kill(), sys.__excepthook__(*info))
manager = pyvisa.ResourceManager("@py")
visa = manager.open_resource(f"TCPIP::127.0.0.1::{s.port}::SOCKET", read_termination="\n",
                             write_termination="\n", timeout=10000)
check("idn", visa.query("*IDN?").split(",")[:3], ["px77xx", "PX7702_RevA", "sim"])
visa.write("WIP1 200;WIP2 MAX")
check("both wipers", visa.query("WIP1?;WIP2?"), "200;255")
check("read back", visa.query("READ?"), "255")
visa.write("WIP1 300")
check("error queued", visa.query("SYST:ERR?"), '-222,"Data out of range;300 (0..255)"')
check("queue empty", visa.query("SYST:ERR?"), '0,"No error"')

# A second client beside PyVISA, with 200 queries in one send: every answer,
# in order.
other = socket.create_connection(("127.0.0.1", s.port), timeout=20)
other.sendall(b"".join(f"WIP2 {n % 256};WIP2?\n".encode() for n in range(200)))
replies = other.makefile("rb")
answers = [replies.readline().decode() for _ in range(200)]
check("pipelined answers", answers, [f"{n % 256}\n" for n in range(200)])
check("first client still served", visa.query("WIP1?"), "200")

# A third is beyond --clients 2: closed at once, with nothing to read.
third = socket.create_connection(("127.0.0.1", s.port), timeout=20)
check("beyond the limit closed", third.recv(16), b"")
third.close()

# A client that goes away mid-line leaves the server serving the next, once
# it has seen both go (until then, a third is still beyond the limit).
other.sendall(b"WIP1 1")
replies.close()  # the socket closes with its last file
other.close()
visa.close()
s.said_until(r"client \S+ (disconnected|went away)", times=2)
again = socket.create_connection(("127.0.0.1", s.port), timeout=20)
again.sendall(b"WIP1?\n")
check("served after a client vanished", read_line(again), "200\n")

# VXI-11 on the port it names, since Windows has no portmapper to ask.
class CoreAtPort(vxi11.CoreClient):
    def __init__(self, port):
        self.packer = vxi11.Vxi11Packer()
        self.unpacker = vxi11.Vxi11Unpacker("")
        rpc.RawTCPClient.__init__(self, "127.0.0.1", vxi11.DEVICE_CORE_PROG, vxi11.DEVICE_CORE_VERS, port)


check("VXI-11: no portmapper, said", s.registration.rstrip(),
      f"pxctl: serve: VXI-11 not registered with the portmapper (Windows has no portmapper): VXI-11 clients must be "
      f"given port {s.vxi11_port}")
check("not announced, said", s.announcement.rstrip(),
      "pxctl: serve: not announced: this Windows build does not announce over DNS-SD")
core = CoreAtPort(s.vxi11_port)
error, link, _, _ = core.create_link(1, 0, 0, "inst0")
check("VXI-11: link", error, 0)
check("VXI-11: write", core.device_write(link, 1000, 0, vxi11.OP_FLAG_END, b"WIP1?\n"), (0, 6))
check("VXI-11: read", core.device_read(link, 100, 1000, 0, 0, 0), (0, vxi11.RX_END, b"200\n"))
core.destroy_link(link)
core.close()

# A second server on the same port is refused, naming the address.
taken = Server("--listen", f"127.0.0.1:{s.port}")
taken.process.wait(timeout=60)
check("port taken: status", taken.process.returncode, 1)
check("port taken: says where", taken.first.startswith(f"pxctl: serve: cannot listen on 127.0.0.1:{s.port}: "), True)

again.close()
status, said = s.stop()
check("Ctrl-C: status", status, 0)
check("Ctrl-C: said", re.search(r"stopped by Ctrl-C after \d+ commands", said) is not None, True)

sys.exit(1 if failed else 0)
