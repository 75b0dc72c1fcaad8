# The module's surface as a Python user meets it: what `import *` takes, the
# version, the port a script must name, the address, errno on failures, the
# repr, and arguments of the wrong kind.
import errno
import subprocess
import sys

import pytest

import px77xx
from conftest import run_pxctl


def test_star_import_leaves_the_builtin_open_alone():
    names = {}
    exec("from px77xx import *", names)
    assert "open" not in names
    assert {"Device", "Board", "PortError", "NoDeviceAnswered", "BusStuck", "ConfigError"} <= names.keys()
    assert callable(px77xx.open)


def test_the_version_is_pxctls(pxctl):
    assert run_pxctl(pxctl, ["-V"]).stdout == f"pxctl {px77xx.__version__}\n"


@pytest.mark.parametrize("opener", [lambda: px77xx.open(), lambda: px77xx.open("b"), lambda: px77xx.Device("a")],
                         ids=["open", "open_with_program", "device"])
def test_a_forgotten_port_is_an_error_not_the_simulated_board(opener):
    with pytest.raises(px77xx.ConfigError, match=r"no port given: pass port=.*\"sim\" for the simulated board"):
        opener()


def test_the_address_reaches_the_frames():
    with px77xx.open(port="sim:address=0x2d", address=0x2D, check_ack=True) as device:
        device.set(1, 77)
        assert (device.address, device.get()) == (0x2D, 77)
    with px77xx.open(port="sim:address=0x2d", check_ack=True) as device:
        with pytest.raises(px77xx.NoDeviceAnswered, match="no device answered at 0x2c"):
            device.set(1, 77)


ERRNO_CASES = [
    # name, port, action, errno (None: no system error is behind it)
    ("no device answered", "sim:device=none", "set 1 5", errno.ENXIO),
    ("the data byte not acknowledged", "sim:nack=3", "set 1 5", errno.ENXIO),
    ("a stuck bus", "sim:stuck=1000", "set 1 5", errno.EIO),
    ("a port library that is not there", "lib:path=/nonexistent/libport.so", "set 1 5", errno.ENOENT),
    ("a parallel port node that is not there", "ppdev:dev=/nonexistent/parport9", "set 1 5", errno.ENOENT),
]


@pytest.mark.parametrize("name,port,action,code", ERRNO_CASES, ids=[c[0].replace(" ", "_") for c in ERRNO_CASES])
def test_errno_names_the_system_error_and_str_stays_the_report(name, port, action, code):
    with px77xx.open(port=port, check_ack=True) as device:
        with pytest.raises(px77xx.PortError) as raised:
            device.actions(action)
    error = raised.value
    assert error.errno == code
    assert error.strerror == str(error)
    assert str(error).startswith(action + ": ") and "[Errno" not in str(error)


def test_a_port_library_that_throws_has_no_errno(monkeypatch, slow_library):
    monkeypatch.setenv("PX77XX_PORT_FAULT", "throw:1")
    monkeypatch.setenv("PX77XX_PORT_WAIT_MS", "0")
    with px77xx.open(port="lib:path=" + slow_library()) as device:
        with pytest.raises(px77xx.PortError) as raised:
            device.set(1, 5)
    assert raised.value.errno is None


def test_a_port_another_program_holds_is_ebusy(pxctl, slow_library, monkeypatch):
    monkeypatch.setenv("PX77XX_PORT_WAIT_MS", "0")
    library = slow_library()
    holder = subprocess.Popen([pxctl, "--port", "lib:path=" + library, "-"], stdin=subprocess.PIPE,
                              stdout=subprocess.PIPE, text=True)
    try:
        holder.stdin.write("get\n")
        holder.stdin.flush()
        assert holder.stdout.readline().strip().isdigit()  # the port is claimed, and its lock held
        with px77xx.open(port="lib:path=" + library) as device:
            with pytest.raises(px77xx.PortError, match="is in use by another program") as raised:
                device.set(1, 5)
        assert raised.value.errno == errno.EBUSY
    finally:
        holder.stdin.close()
        holder.wait(timeout=60)


def test_the_repr_names_program_port_and_address():
    device = px77xx.open(program="a", port="sim", address=0x2D)
    assert repr(device) == "<px77xx.Device program='a' (PX7700_02_RevA) port='sim' address=0x2d>"
    device.close()
    assert repr(device).endswith(" address=0x2d closed>")


@pytest.mark.parametrize("line", [b"set 1 5", bytearray(b"get"), 5], ids=["bytes", "bytearray", "int"])
def test_actions_takes_text_only(line):
    with px77xx.open(port="sim") as device:
        with pytest.raises(TypeError, match="line must be a str, not " + type(line).__name__):
            device.actions(line)


def test_exit_takes_the_three_values_a_with_statement_gives():
    device = px77xx.open(port="sim")
    assert device.__exit__(None, None, None) is None
    assert device.closed
    with pytest.raises(TypeError):
        device.__exit__(None, None, None, None)
