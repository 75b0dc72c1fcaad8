# The module runs pxctl's actions by the same code: for the same session its
# trace is pxctl's, byte for byte (the raw log), and line for line apart from
# the time column (the decoded trace).
import pytest

import px77xx
from conftest import run_pxctl

SESSIONS = [
    ("a", "set 1 200 set 2 17 zero mid full ch1 bit:20=1 run read get code1=3 code1=3 code2=250 recover"),
    ("b", "set 1 200 set 2 17 zero mid full ch1 bit:20=1 run read get shdn code1=3 code1=3 code2=250 set 2 250 "
          "recover read"),
]


def drive(device, words):
    """The session through the module's methods, one per action."""
    i = 0
    while i < len(words):
        word = words[i]
        if word == "set":
            device.set(int(words[i + 1]), int(words[i + 2]))
            i += 3
            continue
        if word.startswith("code"):
            device.code(int(word[4]), int(word.split("=")[1]))
        elif word.startswith("bit:"):
            index, value = word[4:].split("=")
            device.bit(int(index), int(value))
        else:
            getattr(device, {"run": "run"}.get(word, word))()
        i += 1


def without_time(text):
    return [line[10:] for line in text.splitlines()]


@pytest.mark.parametrize("program,session", SESSIONS, ids=["a", "b"])
@pytest.mark.parametrize("kind", ["log", "txt"])
def test_the_modules_trace_is_pxctls(tmp_path, pxctl, program, session, kind):
    ours = tmp_path / f"module.{kind}"
    theirs = tmp_path / f"pxctl.{kind}"
    with px77xx.open(program=program, port="sim", trace=str(ours)) as device:
        drive(device, session.split())
    ran = run_pxctl(pxctl, ["--program", program, "--port", "sim", "--trace", str(theirs), *session.split()])
    assert ran.returncode == 0, ran.stderr
    if kind == "log":
        assert ours.read_bytes() == theirs.read_bytes()
    else:
        assert without_time(ours.read_text()) == without_time(theirs.read_text())
    assert len(ours.read_bytes()) > 1000


@pytest.mark.parametrize("program", ["a", "b"])
def test_a_line_of_actions_reads_what_pxctl_prints(pxctl, program):
    line = "set 2 200 get mid read"
    with px77xx.open(program=program, port="sim") as device:
        reads = device.actions(line)
    printed = run_pxctl(pxctl, ["--program", program, "--port", "sim", *line.split()]).stdout.split()
    assert [r for r in reads if r is not None] == [int(p) for p in printed]


def test_the_displays_and_the_board_follow_the_actions():
    with px77xx.open(program="b", port="sim") as device:
        assert (device.code1, device.code2, device.channel_written, device.byte_read) == (None, None, None, None)
        device.set(2, 200)
        assert (device.code2, device.channel_written, device.channel_read, device.data_written) == (200, 2, 2, 200)
        assert device.board.wipers == (128, 200)
        assert device.board.selected_channel == 2
        assert device.read() == 200 and device.byte_read == 200
        device.shdn()
        assert device.board.shutdown
    with px77xx.open(program="b", port="sim:stuck=0") as device:
        assert device.board.wipers == (128, 128)  # a fresh board each time


def test_a_port_that_is_not_the_simulated_board_has_no_board(slow_library):
    with px77xx.open(port="lib:path=" + slow_library()) as device:
        assert device.board is None


@pytest.mark.parametrize("call,words", [
    (lambda d: d.set(3, 1), "action 'set 3 1': the channel must be 1..2"),
    (lambda d: d.set(1, 256), "action 'set 1 256': the code must be 0..255"),
    (lambda d: d.bit(45, 1), "action 'bit:45=1': the bit must be 0..44"),
    (lambda d: d.bit(3, 2), "action 'bit:3=2': the value must be 0..1"),
    (lambda d: d.code(0, 1), "the channel must be 1..2"),
    (lambda d: d.actions("sett 1 2"), "action 'sett': is not known; actions are ch1, ch2, zero, mid, full, run, "
                                      "read, shdn, get, code1=N, code2=N, bit:K=V, set CH N, recover"),
])
def test_bad_arguments_are_value_errors_in_pxctls_words(call, words):
    with px77xx.open(port="sim") as device:
        with pytest.raises(ValueError) as raised:
            call(device)
        assert str(raised.value) == words
        assert device.board.wipers == (128, 128)  # nothing was sent


def test_wrong_types_and_programs():
    with px77xx.open(port="sim") as device:
        with pytest.raises(TypeError):
            device.set("1", 200)
    with px77xx.open(program="a", port="sim") as device:
        with pytest.raises(ValueError, match=r"^action 'shdn': is not a button of program a \(PX7700_02_RevA\)$"):
            device.shdn()
    with pytest.raises(ValueError, match="^program c is not known; use a or b$"):
        px77xx.open(program="c", port="sim")


# The module and pxctl open ports alike, and say the same of a bad one.
@pytest.mark.parametrize("port,words", [
    ("nope", "unknown port backend 'nope'; valid backends: sim, "),
    ("sim:device=px7701", "sim: device=px7701 is not known; device accepts px7702, none"),
])
def test_a_bad_port_string_is_a_config_error(pxctl, port, words):
    with pytest.raises(px77xx.ConfigError) as raised:
        px77xx.open(port=port)
    assert isinstance(raised.value, ValueError)
    assert str(raised.value).startswith(words)
    said = run_pxctl(pxctl, ["--port", port, "get"])
    assert said.returncode == 2
    assert said.stderr == "pxctl: " + str(raised.value) + "\n"


def test_a_closed_device_refuses_actions_and_releases_its_port(slow_library):
    library = slow_library()
    device = px77xx.open(port="lib:path=" + library)
    device.set(1, 5)
    with pytest.raises(px77xx.PortError, match="in use"):
        px77xx.open(port="lib:path=" + library).set(1, 6)
    device.close()
    assert device.closed
    with pytest.raises(ValueError, match="^the device is closed$"):
        device.mid()
    with px77xx.open(port="lib:path=" + library) as again:
        again.set(1, 7)
