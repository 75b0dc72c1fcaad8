# The module used as scripts misuse it: a board read after close or during
# one, a device carried into a forked child, warnings made errors, and
# arguments of the wrong kind. Each is refused in words; nothing reads freed
# memory, hangs or tears a frame.
import os
import subprocess
import sys
import threading
import warnings

import pytest

import px77xx


def test_a_board_read_after_close_is_refused():
    device = px77xx.open(port="sim")
    board = device.board
    device.set(1, 42)
    assert board.wipers == (42, 128)
    device.close()
    for read in (lambda: board.wipers, lambda: board.wiper(1), lambda: board.selected_channel,
                 lambda: board.shutdown):
        with pytest.raises(ValueError, match="the device is closed"):
            read()


def test_a_board_read_while_another_thread_closes_never_sees_freed_memory():
    for _ in range(50):
        device = px77xx.open(port="sim")
        board = device.board
        seen = []

        def read():
            try:
                for _ in range(200):
                    seen.append(board.wipers)
            except ValueError:
                pass
        reader = threading.Thread(target=read)
        reader.start()
        device.close()
        reader.join()
        assert set(seen) <= {(128, 128)}


@pytest.mark.parametrize("channel", [3, 0, -1, 10**6, 2**70])
def test_the_board_refuses_a_channel_that_is_not_one(channel):
    with px77xx.open(port="sim") as device:
        with pytest.raises(ValueError, match="the channel must be 1..2"):
            device.board.wiper(channel)


ARGUMENTS = [
    # name, call, exception, message
    ("newline_separates", lambda d: d.actions("set 1 5\nget # read it back\nget"), None, [None, 5, 5]),
    ("full_width_digit", lambda d: d.actions("set 1 \uff15"), ValueError, "the code is not a number; give 0..255"),
    ("exponent", lambda d: d.actions("set 1 1e2"), ValueError, "the code is not a number; give 0..255"),
    ("negative", lambda d: d.actions("set 1 -1"), ValueError, "the code must be 0..255"),
    ("code_past_int", lambda d: d.set(1, 2**31), ValueError, "action 'set 1 2147483648': the code must be 0..255"),
    ("code_past_long", lambda d: d.set(1, 2**70), ValueError, "the code must be 0..255"),
    ("bool_channel", lambda d: d.set(True, 5), TypeError, "the channel must be an int, not bool"),
    ("bool_code_bar", lambda d: d.code(True, 5), TypeError, "the channel must be an int, not bool"),
    ("text_code", lambda d: d.set(1, "5"), TypeError, "the code must be an int, not str"),
    ("float_code", lambda d: d.set(1, 5.0), TypeError, "the code must be an int, not float"),
    ("bit_past_int", lambda d: d.bit(2**40, 1), ValueError, "must be 0..44"),
]


@pytest.mark.parametrize("name,call,kind,said", ARGUMENTS, ids=[a[0] for a in ARGUMENTS])
def test_arguments_are_refused_in_pxctls_words(name, call, kind, said):
    with px77xx.open(port="sim") as device:
        if kind is None:
            assert call(device) == said
            return
        with pytest.raises(kind) as raised:
            call(device)
        assert said in str(raised.value)
        assert device.board.wipers == (128, 128)  # nothing was sent


def test_an_empty_program_is_named_as_such():
    with pytest.raises(ValueError, match="^program is empty; use a or b$"):
        px77xx.open(program="", port="sim")


def test_the_address_reaches_the_frames(tmp_path):
    trace = tmp_path / "address.txt"
    with px77xx.open(port="sim:address=0x2d", address=0x2D, trace=str(trace)) as device:
        device.set(2, 77)
        assert device.read() == 77
        assert device.address == 0x2D
    assert "device address 0x2d" in trace.read_text()
    with pytest.raises(ValueError, match="not a 7-bit device address"):
        px77xx.open(port="sim", address=0x78)


def test_a_warning_made_an_error_is_raised_with_what_reached_the_port(tmp_path):
    full = tmp_path / "full.log"
    full.symlink_to("/dev/full")  # every write fails: no space left
    with px77xx.open(port="sim", trace=str(full)) as device:
        with warnings.catch_warnings():
            warnings.simplefilter("error", RuntimeWarning)
            with pytest.raises(RuntimeWarning) as raised:
                device.set(1, 9)
        assert "full.log: write: No space left on device" in str(raised.value)
        assert raised.value.__notes__ == ["the action 'set 1 9' had run whole: its frames reached the port"]
        assert device.board.wiper(1) == 9


FORKED = r"""
import os, sys, threading, time
import px77xx
device = px77xx.open(port="lib:path=" + sys.argv[1], trace=sys.argv[2])
device.set(1, 1)
busy = threading.Thread(target=lambda: device.actions("set 1 2 set 1 3 set 1 4"))
busy.start()
time.sleep(0.05)  # the thread is inside an action, holding the device's lock
child = os.fork()
if child == 0:
    try:
        device.set(2, 9)
        os._exit(3)
    except ValueError as e:
        print("child:", e, flush=True)
    device.close()  # lets go without touching the parent's port or lock
    os._exit(0)
_, status = os.waitpid(child, 0)
busy.join()
# A child forked between actions that exits as programs do, flushing what
# stdio holds: the trace, flushed at every stop, leaves it nothing to write twice.
second = os.fork()
if second == 0:
    sys.exit(0)
os.waitpid(second, 0)
device.set(2, 5)
device.close()
print("parent:", os.waitstatus_to_exitcode(status), os.getpid(), flush=True)
"""


def test_a_forked_child_never_drives_the_parents_port_nor_waits_for_its_lock(slow_library, tmp_path):
    trace = tmp_path / "forked.log"
    ran = subprocess.run([sys.executable, "-c", FORKED, slow_library(), str(trace)], capture_output=True, text=True,
                         timeout=60, env={**os.environ, "PX77XX_PORT_WAIT_MS": "1"})
    assert ran.returncode == 0, ran.stderr
    child, parent = ran.stdout.splitlines()
    pid = parent.split()[2]
    assert parent.startswith("parent: 0 ")
    opened_by = f"child: this device was opened by process {pid}; a process forked from it cannot use it: "
    assert child.startswith(opened_by + "open the port again in process ")
    assert child.rsplit(" ", 1)[1] != pid
    # Whole frames only, from the parent alone: five frames of 59 writes.
    assert len(trace.read_text().splitlines()) == 5 * 59
