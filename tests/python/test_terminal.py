# The interactive session as a user at a terminal has it, through a
# pseudo-terminal: the line editor's history recalls earlier lines, a bad
# line is reported and the session goes on, Ctrl-C at the prompt ends it as a
# signal ends a piped one, and Ctrl-D ends it cleanly.
import os
import pty
import select
import subprocess
import time

import pytest


class Terminal:
    def __init__(self, pxctl, *arguments):
        self.pid, self.fd = pty.fork()
        if self.pid == 0:
            os.execv(pxctl, [pxctl, *arguments])
        self.out = b""

    def expect(self, text, count=1, timeout=20):
        """Waits until text has appeared count times in all the terminal showed."""
        end = time.monotonic() + timeout
        while self.out.count(text) < count and time.monotonic() < end:
            ready, _, _ = select.select([self.fd], [], [], 0.1)
            if ready:
                try:
                    self.out += os.read(self.fd, 4096)
                except OSError:
                    break
        assert self.out.count(text) >= count, self.out

    def type(self, keys):
        os.write(self.fd, keys)

    def status(self, timeout=20):
        """The exit status, once all it wrote is read; killed if it runs on."""
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            ready, _, _ = select.select([self.fd], [], [], 0.1)
            if not ready:
                continue
            try:
                chunk = os.read(self.fd, 4096)
            except OSError:
                break
            if not chunk:
                break
            self.out += chunk
        else:
            os.kill(self.pid, 9)
        _, status = os.waitpid(self.pid, 0)
        os.close(self.fd)
        return os.waitstatus_to_exitcode(status)


UP = b"\x1b[A"


def edits_lines(pxctl):
    return "libedit" in subprocess.run(["ldd", pxctl], capture_output=True, text=True).stdout


def test_history_recalls_the_last_lines_and_a_bad_line_does_not_end_the_session(pxctl):
    if not edits_lines(pxctl):
        pytest.skip("this pxctl was built without libedit")
    t = Terminal(pxctl, "--port", "sim", "-")
    t.expect(b"pxctl> ")
    t.type(b"set 1 7\r")
    t.expect(b"pxctl> ", 2)
    t.type(b"get\r")
    t.expect(b"\r\n7\r\n")
    t.expect(b"pxctl> ", 3)
    t.type(b"nosuch\r")
    t.expect(b"is not known")
    t.expect(b"pxctl> ", 4)
    t.type(b"set 1 9\r")
    t.expect(b"pxctl> ", 5)
    t.type(UP + UP + UP + b"\r")  # past set 1 9 and nosuch: get
    t.expect(b"\r\n9\r\n")
    # Ctrl-D only at the prompt: typed while the terminal is still in its
    # cooked mode, the end-of-file mark is lost as the editor takes it over.
    t.expect(b"pxctl> ", 6)
    t.type(b"\x04")
    assert t.status() == 0
    assert b"\\x1b" not in t.out  # no escape sequence taken for an action


def test_ctrl_c_at_the_prompt_ends_the_session_as_sigint(pxctl):
    t = Terminal(pxctl, "--port", "sim", "-")
    t.expect(b"pxctl> ")
    t.type(b"set 2 3\r")
    t.expect(b"pxctl> ", 2)
    t.type(b"\x03")
    assert t.status() == 130
    assert b"interrupted by SIGINT" in t.out
