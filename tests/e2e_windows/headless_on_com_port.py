"""quillane.exe under Wine, headless on a COM port, driven by a client.

    headless_on_com_port.py QUILLANE_EXE SHIM_SOURCE WORK_DIR [--round-trips N]

Makes a pseudo-terminal pair, maps its slave as a COM port of the Wine
prefix ($WINEPREFIX/dosdevices/comN), builds the modem-line shim Wine needs
on a pseudo-terminal (modem_lines_shim.c) with the host's C compiler, and
runs the program on that port. The client on the master side checks the
exact replies, the parameter file after a save, and that Ctrl-C ends the
program with status 0. With --round-trips N it instead prints the median
time of N request-reply round trips (a measurement, not a test).

Every wait has a deadline, so a program that stops answering fails the test
instead of hanging it. Exits non-zero on the first failure.
"""
import os
import pathlib
import queue
import select
import signal
import statistics
import subprocess
import sys
import threading
import time
import tty

DEADLINE = 30  # seconds for any one expected reply or log line
COM_NUMBER = 42
IDENTIFY = b"quillane, V 1.0\r\n"


class Failure(Exception):
    pass


def expect(what, seen, wanted):
    if seen != wanted:
        raise Failure(f"{what}: got {seen!r}, wanted {wanted!r}")


def build_shim(source, work):
    library = work / "modem_lines_shim.so"
    subprocess.run(["cc", "-shared", "-fPIC", "-O2", "-Wall", "-Werror", "-o", str(library),
                    str(source), "-ldl"], check=True)
    return library


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


class Lines:
    """The lines a pipe of the program delivers, collected by a thread."""

    def __init__(self, stream):
        self.queue = queue.Queue()
        self.seen = []
        threading.Thread(target=self._collect, args=(stream,), daemon=True).start()

    def _collect(self, stream):
        for raw in stream:
            self.queue.put(raw.decode("utf-8", errors="replace").rstrip("\r\n"))
        self.queue.put(None)

    def next(self):
        line = self.queue.get(timeout=DEADLINE)
        if line is not None:
            self.seen.append(line)
        return line

    def until(self, predicate, what):
        while True:
            line = self.next()
            if line is None:
                raise Failure(f"the program ended before {what}")
            if predicate(line):
                return line


class Client:
    """The master side of the pseudo-terminal: what a client on COMn sees."""

    def __init__(self, master):
        self.master = master
        self.pending = b""

    def send(self, data):
        view = memoryview(data)
        while view:
            view = view[os.write(self.master, view):]

    def reply(self):
        while b"\r\n" not in self.pending:
            ready, _, _ = select.select([self.master], [], [], DEADLINE)
            if not ready:
                raise Failure(f"no reply; so far {self.pending!r}")
            self.pending += os.read(self.master, 4096)
        line, _, self.pending = self.pending.partition(b"\r\n")
        return line + b"\r\n"

    def ask(self, request):
        self.send(request)
        return self.reply()


class Program:
    def __init__(self, exe, shim, port, parameter_file, simulate=False):
        args = ["wine", str(exe), "--headless", "--port", port, "--parameter-file",
                windows_path(parameter_file)]
        if simulate:
            args.append("--simulate")
        env = dict(os.environ, LD_PRELOAD=str(shim))
        self.process = subprocess.Popen(args, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.log = Lines(self.process.stdout)
        self.notices = Lines(self.process.stderr)

    def wait_open(self, port):
        return self.notices.until(lambda line: line.startswith(f"quillane: port {port} open"),
                                  "the port opened")

    def interrupt(self):
        self.process.send_signal(signal.SIGINT)
        return self.process.wait(timeout=DEADLINE)

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()

    def output(self):
        return "\n".join(["stdout:"] + self.log.seen + ["stderr:"] + self.notices.seen)


def check_commands(client, program, parameter_file):
    expect("identify", client.ask(b"?\r\n"), IDENTIFY)
    expect("set", client.ask(b"A;12.5\r\n"), b"ok\r\n")
    expect("get", client.ask(b"a\r\n"), b"12.5\r\n")
    expect("default gain", client.ask(b"s\r\n"), b"0.549000024795532\r\n")
    expect("decimal comma", client.ask(b"B;2,5\r\n"), b"ok\r\n")
    expect("get b", client.ask(b"b\r\n"), b"2.5\r\n")
    expect("bad line", client.ask(b"A;\r\n"), b"error\r\n")
    expect("bad byte", client.ask(b"\xff\r\n"), b"error\r\n")
    expect("set gain", client.ask(b"S;0.5\r\n"), b"ok\r\n")
    expect("save", client.ask(b"$\r\n"), b"ok\r\n")
    contents = parameter_file.read_text(encoding="latin-1")
    for entry in ["[parameter]", "par A=12.5", "par B=2.5", "par S=0.5", "par O=-20"]:
        if entry not in contents:
            raise Failure(f"the saved parameter file lacks {entry!r}:\n{contents}")
    program.log.until(lambda line: line.startswith("save parameter"), "the save was logged")
    expect("reset", client.ask(b"!\r\n"), b"ok\r\n")
    expect("a after reset", client.ask(b"a\r\n"), b"0\r\n")
    expect("s after reset", client.ask(b"s\r\n"), b"0.549000024795532\r\n")

    batch = b"".join(b"%c;%d\r\n" % (ord("A") + i % 25, i) for i in range(100))
    batch += b"".join(b"%c\r\n" % (ord("a") + i % 25) for i in range(75, 100))
    batch += b"?\r\n"
    client.send(batch)
    for i in range(100):
        expect(f"batch set {i}", client.reply(), b"ok\r\n")
    for i in range(75, 100):
        expect(f"batch get {i}", client.reply(), b"%d\r\n" % i)
    expect("batch identify", client.reply(), IDENTIFY)
    program.log.until(lambda line: line == "received ?\\r\\n", "the batch was logged")


def check_readings(client, program):
    expect("first reading", client.reply(), b"-17.8040008544922\r\n")
    raw = program.log.until(lambda line: line.startswith("raw  "), "the reading was logged")
    expect("logged reading", raw, "raw  4 T -17.80\u00b0C")
    # Answered as soon as it is taken; readings may come before it.
    client.send(b"?\r\n")
    for reply in iter(client.reply, IDENTIFY):
        if not reply.startswith(b"-"):
            raise Failure(f"between readings: got {reply!r}")
    if not client.reply().startswith(b"-"):
        raise Failure("the readings stopped after the request")


def run_program(exe, shim, work, simulate, body):
    parameter_file = work / ("simulate.ini" if simulate else "quillane.ini")
    parameter_file.unlink(missing_ok=True)
    port = f"COM{COM_NUMBER}"
    program = Program(exe, shim, port, parameter_file, simulate)
    try:
        program.wait_open(port)
        body(program, parameter_file)
        status = program.interrupt()
        expect("exit status after Ctrl-C", status, 0)
        errors = [line for line in program.notices.seen if line.startswith("error")]
        expect("errors on stderr", errors, [])
    except BaseException:
        program.stop()
        print(program.output(), file=sys.stderr)
        raise


def measure(client, count):
    times = []
    for _ in range(count):
        start = time.perf_counter()
        expect("round trip", client.ask(b"?\r\n"), IDENTIFY)
        times.append(time.perf_counter() - start)
    print(f"round trip under Wine over {count} commands: p50 {statistics.median(times) * 1000:.2f}"
          f" ms, p90 {statistics.quantiles(times, n=10)[-1] * 1000:.2f} ms")


def main():
    exe, shim_source, work = sys.argv[1], pathlib.Path(sys.argv[2]), pathlib.Path(sys.argv[3])
    round_trips = int(sys.argv[5]) if len(sys.argv) > 5 and sys.argv[4] == "--round-trips" else 0
    work.mkdir(parents=True, exist_ok=True)
    shim = build_shim(shim_source, work)

    master, slave = os.openpty()
    tty.setraw(master)
    dosdevice = pathlib.Path(os.environ["WINEPREFIX"]) / "dosdevices" / f"com{COM_NUMBER}"
    dosdevice.unlink(missing_ok=True)
    dosdevice.symlink_to(os.ttyname(slave))
    client = Client(master)
    try:
        if round_trips:
            run_program(exe, shim, work, False, lambda program, _: measure(client, round_trips))
            return
        run_program(exe, shim, work, False,
                    lambda program, parameter_file: check_commands(client, program,
                                                                   parameter_file))
        client.pending = b""
        run_program(exe, shim, work, True, lambda program, _: check_readings(client, program))
    finally:
        dosdevice.unlink(missing_ok=True)
        os.close(slave)
        os.close(master)
    print("quillane.exe answered every command on a COM port under Wine")


if __name__ == "__main__":
    try:
        main()
    except Failure as failure:
        print(f"FAILED: {failure}", file=sys.stderr)
        sys.exit(1)
