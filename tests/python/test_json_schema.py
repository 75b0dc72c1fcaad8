# Every object pxctl --json writes validates against the schema the package
# ships: every action of both programs, every failure, a refused line and a
# refused command line; and what pxctl detect and detect --probe print.
import json
import os

import jsonschema
import pytest

from conftest import run_pxctl

with open(os.environ["PXCTL_JSON_SCHEMA"]) as f:
    SCHEMA = json.load(f)
jsonschema.Draft202012Validator.check_schema(SCHEMA)
VALIDATOR = jsonschema.Draft202012Validator(SCHEMA)

EVERY_ACTION = "set 1 200 code2=17 code1=200 ch1 ch2 zero mid full bit:3=1 run read get recover"


def objects(output):
    lines = output.splitlines()
    assert lines, "no output"
    return [json.loads(line) for line in lines]


def valid(obj):
    errors = [e.message for e in VALIDATOR.iter_errors(obj)]
    assert errors == [], obj
    return obj


@pytest.mark.parametrize("program", ["a", "b"])
def test_every_action(pxctl, program):
    actions = EVERY_ACTION + (" shdn" if program == "b" else "")
    ran = run_pxctl(pxctl, ["--json", "--program", program, "--port", "sim", *actions.split()])
    assert ran.returncode == 0, ran.stderr
    got = [valid(o) for o in objects(ran.stdout)]
    assert [o["index"] for o in got] == list(range(1, len(got) + 1))
    assert all(o["ok"] for o in got)
    assert {"txtDisplay1", "txtSDA_Data", "frameWord"}.isdisjoint(ran.stdout.replace('"', " ").split())


FAILURES = [
    # port, actions, extra arguments, environment, what the last object says
    ("sim:device=none", "set 1 5", ["--check-ack"], {}, {"cause": "no device answered", "delivery": "cut short"}),
    ("sim:nack=3", "set 1 5", ["--check-ack"], {}, {"delivery": "not acknowledged"}),
    ("sim:stuck=1000", "set 1 5", ["--check-ack"], {}, {"cause": "bus stuck", "delivery": "not sent"}),
    ("sim:stuck=1000", "recover", [], {}, {"cause": "bus stuck", "free": False}),
    ("lib", "set 1 5 set 1 6", [], {"PX77XX_PORT_FAULT": "throw:70"}, {"delivery": "cut short", "writes": 10}),
    ("lib", "read", [], {"PX77XX_PORT_FAULT": "read:1"}, {"delivery": "read-back failed"}),
    ("ppdev:dev=/nonexistent", "mid", [], {}, {"delivery": "not sent"}),
]


@pytest.mark.parametrize("port,actions,extra,env,expected", FAILURES, ids=[f"{f[0]}_{f[1]}" for f in FAILURES])
def test_every_failure(pxctl, slow_library, port, actions, extra, env, expected):
    if port == "lib":
        port = "lib:path=" + slow_library()
        env = {**env, "PX77XX_PORT_WAIT_MS": "0"}
    ran = run_pxctl(pxctl, ["--json", "--port", port, *extra, *actions.split()], env=env)
    assert ran.returncode == 1, ran.stderr
    got = [valid(o) for o in objects(ran.stdout)]
    last = got[-1]
    assert last["ok"] is False
    assert {k: last[k] for k in expected} == expected
    assert "pxctl: " + last["error"] in ran.stderr


def test_an_address_other_than_the_default_is_named_in_every_object(pxctl):
    ran = run_pxctl(pxctl, ["--json", "--port", "sim:address=0x2d", "--address", "0x2d", *EVERY_ACTION.split()])
    assert ran.returncode == 0, ran.stderr
    got = [valid(o) for o in objects(ran.stdout)]
    assert {o["address"] for o in got} == {"0x2d"}


def test_a_refused_line_under_keep_going_and_a_refused_command_line(pxctl):
    ran = run_pxctl(pxctl, ["--json", "--port", "sim", "--keep-going", "-"], stdin="set 1 5\nset 9 9\nget\n")
    assert ran.returncode == 2
    got = [valid(o) for o in objects(ran.stdout)]
    assert [(o.get("index"), o.get("line"), o["ok"]) for o in got] == [(1, None, True), (None, 2, False),
                                                                       (2, None, True)]
    ran = run_pxctl(pxctl, ["--json", "--port", "sim", "bit:99=1"])
    assert ran.returncode == 2
    assert valid(objects(ran.stdout)[0])["line"] == 0


def test_the_records_pxctl_writes_in_other_runs_are_in_the_schema():
    # The record an interrupted run ends with, and a recovery the kernel does
    # itself, come from runs the C++ tests make; their shapes are checked here.
    valid({"ok": False, "interrupted": "SIGINT", "after": 3, "of": 40})
    valid({"ok": False, "interrupted": "SIGTERM", "after": 7})
    valid({"index": 1, "action": "recover", "ok": True,
           "note": "i2c /dev/i2c-1: the kernel recovers its I2C buses itself; nothing was sent"})
    with pytest.raises(AssertionError):
        valid({"action": "get", "read": 1, "frameWord": 0, "displays": {}})  # 0.2.0's shape


def test_what_detect_prints(pxctl, tmp_path):
    # The listing: the simulated board everywhere, and whatever else this
    # machine offers (usable or not, with why).
    ran = run_pxctl(pxctl, ["detect", "--json"])
    listed = [valid(o) for o in objects(ran.stdout)]
    assert {"kind": "sim", "port": "sim", "usable": True}.items() <= listed[-1].items()
    # Probes: a device that answers, none that does, a port that cannot be opened.
    ran = run_pxctl(pxctl, ["detect", "--json", "--probe", "sim", "sim:device=none", "ppdev:dev=/nonexistent"])
    probed = [valid(o) for o in objects(ran.stdout)]
    assert [o["answered"] for o in probed] == [True, False, False]
    # A scan: the board at its own address, and a port that cannot be opened.
    ran = run_pxctl(pxctl, ["detect", "--json", "--scan", "sim:address=0x51"])
    assert valid(objects(ran.stdout)[0])["answered"] == ["0x51"]
    ran = run_pxctl(pxctl, ["detect", "--json", "--scan", "sim:state=" + str(tmp_path / "no" / "board")])
    assert "error" in valid(objects(ran.stdout)[0])
    # The shapes are exact: a usable port with a reason, or a probe that
    # failed without one, is not one of them.
    for wrong in ({"kind": "sim", "port": "sim", "description": "x", "usable": True, "why": "?"},
                  {"kind": "lib", "port": "lib:path=x.dll", "description": "x", "usable": False},
                  {"port": "sim", "address": "0x2c", "answered": False}):
        with pytest.raises(AssertionError):
            valid(wrong)
