# The simulated board's state file as shell scripts use it: pxctl runs at the
# same time on one file, a probe that must change nothing, and a directory the
# user cannot write.
import os
import shutil
import subprocess
import threading

import pytest

from conftest import run_pxctl


def state(wiper1, wiper2, channel, shutdown):
    return f"px77xx-sim-state 1\nwiper1 {wiper1}\nwiper2 {wiper2}\nchannel {channel}\nshutdown {shutdown}\n"


def test_two_loops_on_one_file_lose_nothing_and_never_fail(pxctl, tmp_path):
    path = tmp_path / "board"
    failures = []

    def loop(channel):
        for code in range(200):
            ran = subprocess.run([pxctl, "--port", f"sim:state={path}", "set", str(channel), str(code)],
                                 capture_output=True, text=True, timeout=60)
            if ran.returncode != 0:
                failures.append(ran.stderr)
    loops = [threading.Thread(target=loop, args=(channel,)) for channel in (1, 2)]
    for t in loops:
        t.start()
    for t in loops:
        t.join()
    assert failures == []
    assert path.read_text() in (state(199, 199, 1, 0), state(199, 199, 2, 0))


def test_a_probe_leaves_a_shut_down_board_as_it_was(pxctl, tmp_path):
    path = tmp_path / "board"
    assert run_pxctl(pxctl, ["--port", f"sim:state={path}", "set", "1", "5", "shdn"]).returncode == 0
    before = path.read_text()
    assert before == state(5, 128, 1, 1)
    probed = run_pxctl(pxctl, ["detect", "--probe", f"sim:state={path}"])
    assert probed.returncode == 0, probed.stderr
    assert probed.stdout == f"sim:state={path}: a device answered at 0x2c\n"
    assert path.read_text() == before


def test_a_scan_finds_the_board_at_its_address_and_leaves_it_as_it_was(pxctl, tmp_path):
    path = tmp_path / "board"
    assert run_pxctl(pxctl, ["--port", f"sim:state={path},address=0x3a", "set", "2", "9", "shdn"]).returncode == 0
    before = path.read_text()
    scanned = run_pxctl(pxctl, ["--json", "detect", "--scan", f"sim:state={path},address=0x3a"])
    assert scanned.returncode == 0, scanned.stderr
    assert scanned.stdout == f'{{"port":"sim:state={path},address=0x3a","scanned":"0x08..0x77","answered":["0x3a"]}}\n'
    assert "as i2cdetect warns" in scanned.stderr
    assert path.read_text() == before


@pytest.mark.parametrize("words,said", [
    (["detect", "--scan"], "--scan takes one port"),
    (["detect", "--scan", "sim", "sim"], "--scan takes one port"),
    (["detect", "--scan", "--probe", "sim"], "--scan takes one port"),
    (["--address", "0x2d", "detect", "--scan", "sim"], "--scan asks every address; --address does not apply"),
    (["--port", "sim", "--scan", "get"], "--probe and --scan are for pxctl detect"),
    (["detect", "--scan", "ppdev:dev=/dev/null"], "cannot read back its data register, so every read-back would "
                                                  "drive /SHDN high"),
], ids=["no_port", "two_ports", "with_probe", "with_address", "not_detect", "ppdev"])
def test_a_scan_is_refused_where_it_cannot_keep_its_word(pxctl, words, said):
    ran = run_pxctl(pxctl, words)
    assert ran.returncode == 2
    assert said in ran.stderr


@pytest.mark.skipif(os.geteuid() != 0 or shutil.which("setpriv") is None, reason="needs root to become nobody")
def test_a_directory_the_user_cannot_write_is_refused_before_anything_is_sent(pxctl, tmp_path):
    tmp_path.chmod(0o755)
    ran = subprocess.run(["setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", pxctl, "--port",
                          "sim:state=board", "set", "1", "42"], capture_output=True, text=True, timeout=60, cwd=tmp_path)
    assert ran.returncode == 2
    assert ran.stderr == "pxctl: sim: state=board: cannot keep the board there: lock board.lock: Permission denied\n"


def test_a_fifo_is_refused_at_once(pxctl, tmp_path):
    os.mkfifo(tmp_path / "board")
    ran = subprocess.run([pxctl, "--port", "sim:state=board", "get"], capture_output=True, text=True, timeout=60,
                         cwd=tmp_path)
    assert (ran.returncode, ran.stderr) == (2, "pxctl: sim: state=board: cannot use it: a FIFO\n")
