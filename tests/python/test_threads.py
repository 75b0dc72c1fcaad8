# Bus I/O runs without the GIL; one device is used by one thread at a time;
# Ctrl-C lets the frames under way finish, then interrupts.
import os
import re
import signal
import subprocess
import sys
import threading
import time

import px77xx

WRITES_PER_FRAME = 59  # program b


def test_another_thread_runs_while_an_action_is_on_a_slow_port(monkeypatch, slow_library):
    monkeypatch.setenv("PX77XX_PORT_WAIT_MS", "2")
    with px77xx.open(port="lib:path=" + slow_library()) as device:
        worker = threading.Thread(target=lambda: device.set(1, 5))
        turns = 0
        worker.start()
        while worker.is_alive():
            turns += 1
        worker.join()
    # A frame takes over 118 ms here; holding the GIL, it left no turn at all.
    assert turns > 1000


def test_two_threads_on_one_device_never_interleave_on_the_wires(monkeypatch, slow_library, tmp_path):
    monkeypatch.setenv("PX77XX_PORT_WAIT_MS", "0")
    trace = tmp_path / "two.txt"
    with px77xx.open(port="lib:path=" + slow_library(), trace=str(trace)) as device:
        def sweep(channel):
            for code in range(20):
                device.set(channel, code)
        workers = [threading.Thread(target=sweep, args=(channel,)) for channel in (1, 2)]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()
    lines = [line for line in trace.read_text().splitlines() if not line.startswith("#")]
    assert len(lines) == 40
    whole = re.compile(r"^ *[0-9.]+  code([12])=(\d+) +write 0x2c  [08]0 ack\(master\)  [0-9a-f]{2} ack\(master\)   "
                       r"channel \1 <- \2$")
    assert [line for line in lines if not whole.match(line)] == []


CHILD = """
import sys, px77xx
device = px77xx.open(port="lib:path=" + sys.argv[1], trace=sys.argv[2])
print("ready", flush=True)
done = 0
try:
    for code in range(256):
        device.set(1, code)
        done += 1
except KeyboardInterrupt:
    print("interrupted", done, device.code1, flush=True)
device.close()
"""


def test_ctrl_c_during_a_slow_action_interrupts_after_whole_frames(slow_library, tmp_path):
    trace = tmp_path / "interrupted.log"
    child = subprocess.Popen([sys.executable, "-c", CHILD, slow_library(), str(trace)], stdout=subprocess.PIPE,
                             text=True, env={**os.environ, "PX77XX_PORT_WAIT_MS": "2"})
    assert child.stdout.readline() == "ready\n"
    deadline = time.monotonic() + 30
    while (not trace.exists() or trace.stat().st_size < 3 * WRITES_PER_FRAME * 15) and time.monotonic() < deadline:
        time.sleep(0.01)
    child.send_signal(signal.SIGINT)
    said, _ = child.communicate(timeout=30)
    assert child.returncode == 0
    words = said.split()
    assert words[0] == "interrupted", said
    done, shown = int(words[1]), int(words[2])
    writes = trace.read_text().splitlines()
    # The frame under way when the signal came finished: done counts it, since
    # the interruption is raised after it.
    assert len(writes) % WRITES_PER_FRAME == 0
    assert len(writes) // WRITES_PER_FRAME in (done, done + 1)
    assert shown == len(writes) // WRITES_PER_FRAME - 1
