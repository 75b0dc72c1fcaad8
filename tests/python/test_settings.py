# The user's default port, set once: pxctl config writes and shows it; pxctl,
# a window program and the module open it; the command line, PX77XX_PORT and
# the file win in that order; a port from either says where it came from.
import os
import pathlib
import shutil
import subprocess

import pytest

import px77xx
from conftest import run_pxctl


@pytest.fixture
def home(tmp_path, monkeypatch):
    monkeypatch.setenv("XDG_CONFIG_HOME", str(tmp_path))
    monkeypatch.delenv("PX77XX_PORT", raising=False)
    return tmp_path


def config(pxctl, *words, env=None):
    ran = run_pxctl(pxctl, ["config", *words], env=env)
    assert ran.returncode == 0, ran.stderr
    return ran.stdout


def test_config_sets_shows_and_clears_and_keeps_the_files_other_lines(pxctl, home):
    settings = home / "px77xx" / "settings"
    assert "port      = ppdev:dev=/dev/parport0    (built in)" in config(pxctl)
    assert config(pxctl, "port", "sim:state=" + str(home / "b")) == f"port = sim:state={home / 'b'} is set in {settings}\n"
    settings.write_text("# the bench PC\n" + settings.read_text())
    assert config(pxctl, "address", "45") == f"address = 0x2d is set in {settings}\n"
    assert config(pxctl, "check-ack", "Yes").startswith("check-ack = yes")
    shown = config(pxctl)
    assert f"port      = sim:state={home / 'b'}    ({settings}:2)" in shown
    assert f"address   = 0x2d    ({settings}:3)" in shown
    assert "(--port)" in config(pxctl, "--port", "sim")
    assert config(pxctl, "address") == f"address is cleared in {settings}; now 0x2c (built in)\n"
    assert settings.read_text() == f"# the bench PC\nport = sim:state={home / 'b'}\ncheck-ack = yes\n"
    refused = run_pxctl(pxctl, ["config", "port", "nosuch"])
    assert (refused.returncode, refused.stderr.split(";")[0]) == (2, "pxctl: config: port: unknown port backend 'nosuch'")


@pytest.mark.parametrize("option,environment,expected", [
    ([], None, "file"), ([], "sim:state={home}/e", "environment"), (["--port", "sim:state={home}/o"], "sim", "option")],
    ids=["file", "environment_over_file", "option_over_both"])
def test_pxctl_opens_the_port_that_wins(pxctl, home, option, environment, expected):
    config(pxctl, "port", f"sim:state={home}/file")
    env = {"PX77XX_PORT": environment.format(home=home)} if environment else None
    ran = run_pxctl(pxctl, [*(o.format(home=home) for o in option), "set", "1", "7"], env=env)
    assert ran.returncode == 0, ran.stderr
    written = {"file": "file", "environment": "e", "option": "o"}[expected]
    assert [p.name for p in home.iterdir() if p.is_file() and not p.name.endswith(".lock")] == [written]


def test_a_bad_default_port_says_where_it_came_from(pxctl, home):
    config(pxctl, "port", "sim")
    (home / "px77xx" / "settings").write_text("port = bogus\n")
    ran = run_pxctl(pxctl, ["get"])
    assert ran.returncode == 2
    assert ran.stderr.endswith(f"(the port {home}/px77xx/settings:1 gives; pxctl config shows where each setting "
                               "comes from)\n")
    window = pathlib.Path(pxctl).parent / "px7702_reva"
    if window.exists():
        shown = subprocess.run([str(window), "--exit-when-shown"], capture_output=True, text=True, timeout=60,
                               env={**os.environ, "QT_QPA_PLATFORM": "offscreen", "PX77XX_PORT": "bogus2"})
        assert shown.returncode == 2
        assert "unknown port backend 'bogus2'" in shown.stderr and "(the port PX77XX_PORT gives" in shown.stderr


def test_the_module_opens_the_users_default_port_and_refuses_when_there_is_none(pxctl, home, monkeypatch):
    with pytest.raises(px77xx.ConfigError, match="or set your default once with `pxctl config port PORT`"):
        px77xx.open()
    config(pxctl, "port", "sim:address=0x2d")
    with px77xx.open(address=0x2D) as device:
        assert device.port.startswith("sim") and device.get() == 128
    monkeypatch.setenv("PX77XX_PORT", "bogus")
    with pytest.raises(px77xx.ConfigError, match=r"unknown port backend 'bogus'.*\(the port PX77XX_PORT gives\)"):
        px77xx.open()
    with px77xx.open(port="sim") as device:  # port= wins over both
        assert device.port == "sim"


@pytest.mark.skipif(os.geteuid() != 0 or shutil.which("setpriv") is None, reason="needs root to become nobody")
def test_a_settings_file_this_user_cannot_read_is_passed_over(pxctl, home):
    # As `sudo -u` leaves it: another user's home, whose settings this user may
    # not read. A port given does not need them; without one, pxctl says so.
    config(pxctl, "port", "sim")
    home.chmod(0o700)
    as_nobody = ["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", pxctl]
    run = lambda *words, env=None: subprocess.run([*as_nobody, *words], capture_output=True, text=True, timeout=60,
                                                  cwd="/", env={**os.environ, **(env or {})})
    given = run("--port", "sim", "get")
    assert (given.returncode, given.stdout, given.stderr) == (0, "128\n", "")
    from_environment = run("get", env={"PX77XX_PORT": "sim"})
    assert (from_environment.returncode, from_environment.stderr) == (0, "")
    fallen_back = run("config")
    assert f"note: {home}/px77xx/settings: cannot read it (Permission denied); the settings in it are not used" \
        in fallen_back.stdout
    default = run("detect")
    assert default.stderr.startswith(f"pxctl: {home}/px77xx/settings: cannot read it (Permission denied)")


def test_no_check_ack_overrides_the_files_yes_and_the_module_takes_the_files_address(pxctl, home):
    config(pxctl, "check-ack", "yes")
    config(pxctl, "address", "0x2d")
    assert "check-ack = no    (--no-check-ack)" in config(pxctl, "--no-check-ack")
    # The board answers at 0x2c only: the file's check and address make a set
    # fail, --address and --no-check-ack each mend it.
    assert run_pxctl(pxctl, ["--port", "sim", "set", "1", "3"]).returncode == 1
    assert run_pxctl(pxctl, ["--port", "sim", "--address", "0x2c", "set", "1", "3"]).returncode == 0
    assert run_pxctl(pxctl, ["--port", "sim", "--no-check-ack", "set", "1", "3"]).returncode == 0
    both = run_pxctl(pxctl, ["--check-ack", "--no-check-ack", "--port", "sim", "get"])
    assert (both.returncode, both.stderr) == (2, "pxctl: --check-ack and --no-check-ack are both given; give one\n")
    with px77xx.open(port="sim") as device:
        assert (device.address, device.check_ack) == (0x2D, True)
    with px77xx.open(port="sim", address=0x2C, check_ack=False) as device:
        assert (device.address, device.check_ack) == (0x2C, False)
