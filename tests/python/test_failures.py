# Every way an action can fail, and the exception it raises: its type, what
# reached the port (delivery, and for a cut-short frame how many writes of how
# many), the action and the port, and the message pxctl prints.
import os

import pytest

import px77xx

LIB_CASES = [
    # name, program, action, fault, type, delivery, writes, of
    ("first write", "b", "run", "throw:1", px77xx.PortError, "not sent", None, None),
    ("write 12 of a frame", "b", "set 1 5", "throw:12", px77xx.PortError, "cut short", 11, 59),
    ("write 30 of program a's frame", "a", "mid", "throw:30", px77xx.PortError, "cut short", 29, 56),
    ("the read-back's first status read, program b", "b", "read", "read:1", px77xx.PortError, "read-back failed",
     None, None),
    ("the read-back's first status read, program a", "a", "set 2 9", "read:1", px77xx.PortError, "read-back failed",
     None, None),
    ("the read-back alone", "b", "get", "read:1", px77xx.PortError, "cut short", 21, 40),
]


@pytest.mark.parametrize("name,program,action,fault,kind,delivery,writes,of", LIB_CASES,
                         ids=[c[0].replace(" ", "_") for c in LIB_CASES])
def test_a_port_library_failing(monkeypatch, slow_library, name, program, action, fault, kind, delivery, writes, of):
    monkeypatch.setenv("PX77XX_PORT_FAULT", fault)
    monkeypatch.setenv("PX77XX_PORT_WAIT_MS", "0")
    library = slow_library(f"lib{abs(hash(name))}.so")
    with px77xx.open(program=program, port="lib:path=" + library) as device:
        with pytest.raises(px77xx.PortError) as raised:
            device.actions(action)
    error = raised.value
    assert type(error) is kind
    assert isinstance(error, OSError)
    assert (error.delivery, error.writes, error.of) == (delivery, writes, of)
    assert (error.action, error.port) == (action, "lib " + library)
    sent = delivery if delivery != "cut short" else f"cut short after {writes} of {of} writes"
    sent = "written; read-back failed" if delivery == "read-back failed" else sent
    where = "InportW" if fault.startswith("read") else "OutportW"
    assert str(error) == f"{action}: {sent}: lib {library}: the port library threw in {where}: cable unplugged"


SIM_CASES = [
    # name, port, action, type, delivery, writes, of, message ending
    ("no device, the first frame", "sim:device=none", "set 1 5", px77xx.NoDeviceAnswered, "cut short", 23, 59,
     "no device answered at 0x2c"),
    ("no acknowledge of the data byte", "sim:nack=3", "set 1 5", px77xx.NoDeviceAnswered, "not acknowledged", None,
     None, "written; the device did not acknowledge the last byte (0x05)"),
    ("a stuck bus before the start", "sim:stuck=1000", "set 1 5", px77xx.BusStuck, "not sent", None, None,
     "the bus is stuck"),
    ("a stuck bus that recovery cannot free", "sim:stuck=1000", "recover", px77xx.BusStuck, None, None, None,
     "SDA still low after 9 clocks: the bus is stuck"),
]


@pytest.mark.parametrize("name,port,action,kind,delivery,writes,of,ending", SIM_CASES,
                         ids=[c[0].replace(" ", "_") for c in SIM_CASES])
def test_the_device_or_the_bus_failing(name, port, action, kind, delivery, writes, of, ending):
    with px77xx.open(program="b", port=port, check_ack=True) as device:
        with pytest.raises(px77xx.PortError) as raised:
            device.actions(action)
    error = raised.value
    assert type(error) is kind
    assert (error.delivery, error.writes, error.of, error.action) == (delivery, writes, of, action)
    assert ending in str(error), str(error)


def test_after_a_failure_the_next_action_tries_again(monkeypatch, slow_library):
    monkeypatch.setenv("PX77XX_PORT_FAULT", "throw:12")
    monkeypatch.setenv("PX77XX_PORT_WAIT_MS", "0")
    log = slow_library("log.txt")
    os.remove(log)
    monkeypatch.setenv("PX77XX_PORT_LOG", log)
    with px77xx.open(port="lib:path=" + slow_library()) as device:
        with pytest.raises(px77xx.PortError):
            device.set(1, 5)
        device.set(1, 6)
    with open(log) as reached:
        assert len(reached.readlines()) == 11 + 59


def test_a_recovery_that_frees_the_bus_returns_its_clocks():
    with px77xx.open(port="sim:stuck=3") as device:
        assert device.recover() >= 3
        device.set(1, 5)
        assert device.board.wiper(1) == 5
