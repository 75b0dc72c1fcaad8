"""The PX7700/PX7702 programs' actions from Python, for test-bench scripts.

The operator actions of the PX7700_02 RevA (program "a") and PX7702_RevA
(program "b") windows, run on any port pxctl reaches.

SYNOPSIS
    import px77xx
    with px77xx.open(program="b", port="sim") as pot:
        pot.set(1, 200)
        print(pot.read())          # 200
        print(pot.code1, pot.channel_written)

OPENING A PORT
    open() opens a port as pxctl does, from the same port strings ("sim",
    "ppdev:dev=/dev/parport0", "i2c:bus=1", "gpio:...", "lib:path=...";
    see pxctl(1); `pxctl detect` lists this computer's) and returns a Device.
    Without port= the user's default port is opened, as pxctl takes it:
    PX77XX_PORT, then the settings file `pxctl config port PORT` writes. With
    neither set, a script that leaves port= out gets ConfigError, never the
    simulated board or a parallel port in the hardware's place. Nothing touches the port
    until the first action. open() is not among the names that
    `from px77xx import *` takes, as it would hide the built-in open():
    call it as px77xx.open(). Every method is one of pxctl's actions, run by the same code:
    the frames on the wires, the trace and the messages are the ones pxctl
    gives for the same actions.

    The simulated board ("sim") starts afresh with each open(); Device.board
    shows what its device holds.

ACTIONS
    set(channel, code)   channel 1 or 2 to code 0..255: one frame
    code(channel, code)  the channel's code bar moved: a frame if that changes it
    zero(), mid(), full()  "Zero Scale", "Mid Scale", "Full Scale" on the selected channel
    ch1(), ch2()         select channel 1 or 2 (nothing is sent)
    bit(index, value)    bit panel position 0..44 to 0 or 1; run() sends the panel's frame
    read()               "Read": the byte read back (program b writes the panel's frame first)
    get()                the read-back alone
    shdn()               "/SHDN" (program b only)
    recover()            free a bus a device holds low
    actions(line)        a line of pxctl's actions, "set 1 200 get"

DISPLAYS (read-only properties; None until the program first shows one)
    code1, code2, channel_written, channel_read, data_written, byte_read,
    and frame_word. pxctl --json carries the displays under the same names.

ERRORS
    PortError (an OSError)   the port failed; .delivery says what reached it:
                             "not sent", "read-back failed", "cut short" (then
                             .writes of .of writes reached it) or "not acknowledged";
                             .action and .port name the action and the port;
                             .errno is the system's error number where one is
                             behind it (errno.ENXIO: no device answered;
                             EBUSY: in use; EACCES; ENOENT; EIO), else None,
                             and .strerror is the report, str() of the error
    NoDeviceAnswered         a PortError: with check_ack, no device acknowledged
    BusStuck                 a PortError: SDA is held low
    ConfigError (a ValueError)  a port string that is wrong, or a trace file
                             that cannot be written
    ValueError, TypeError    an argument out of range or of the wrong type, in
                             pxctl's words (a bool is not a channel); ValueError
                             too for a device that is closed, or that another
                             process opened (os.fork())

THREADS AND SIGNALS
    Bus I/O runs without the GIL: other threads go on meanwhile. One Device
    used from two threads runs their actions one after the other, never
    interleaved on the wires. Ctrl-C during an action lets its frames finish,
    then raises KeyboardInterrupt. A warning made an error (-W error) is
    raised after the action, with a note that says what reached the port.

SEE ALSO
    pxctl(1), px7700_02_reva(1), px7702_reva(1)
"""

from typing import Optional


class PortError(OSError):
    """The port failed during an action.

    delivery: what of the action reached the port: "not sent",
    "read-back failed", "cut short" or "not acknowledged" (None where a bus
    recovery failed); writes and of: for "cut short", the writes of the cut
    transaction that reached the port and how many it has; action: the action
    as pxctl words it; port: the port in a few words.
    """

    def __init__(self, message: str, *, action: Optional[str] = None, port: Optional[str] = None,
                 delivery: Optional[str] = None, writes: Optional[int] = None, of: Optional[int] = None,
                 errno: Optional[int] = None) -> None:
        super().__init__(message)
        self.action = action
        self.port = port
        self.delivery = delivery
        self.writes = writes
        self.of = of
        self.errno = errno
        self.strerror = message

    def __str__(self) -> str:
        # The report alone, as pxctl prints it: OSError would put "[Errno N]" before it.
        return str(self.args[0]) if self.args else ""


class NoDeviceAnswered(PortError):
    """No device acknowledged (the acknowledge check, check_ack=True)."""


class BusStuck(PortError):
    """SDA is held low where nobody may hold it: a device holds the bus; recover() frees it."""


class ConfigError(ValueError):
    """A port string that is wrong (the message says what is accepted), or a trace file that cannot be opened."""


from ._px77xx import Board, Device, __version__  # noqa: E402  (the extension raises the classes above)


def open(program: str = "b", port: Optional[str] = None, trace: Optional[str] = None,
         check_ack: Optional[bool] = None, address: Optional[int] = None) -> Device:
    """Opens a program of the family on a port; use it in a with statement.

    program: "a" (PX7700_02 RevA: every write read back) or "b" (PX7702_RevA);
    port: a port string as pxctl takes it ("sim" for the simulated board);
    left out, the user's default (PX77XX_PORT, then `pxctl config port`),
    and ConfigError where none is set; trace: a file that records every
    port access (.txt decoded, .vcd, .log raw), as pxctl --trace does;
    check_ack: check the device's acknowledge slots, so that a missing device
    raises NoDeviceAnswered instead of going unnoticed; address: the device's
    7-bit address, 0x08..0x77, as pxctl --address takes it. Left out, these
    two are the user's defaults too (`pxctl config`), else off and 0x2C.

    A device belongs to the process that opened it: a process forked from it
    gets ValueError from every action and opens the port again itself.
    """
    return Device(program, port, trace, check_ack, address)


# open is left out: `from px77xx import *` must not hide the built-in open().
__all__ = ["Device", "Board", "PortError", "NoDeviceAnswered", "BusStuck", "ConfigError"]
