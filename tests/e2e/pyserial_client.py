"""A pyserial client for the device on a network port.

    pyserial_client.py URL SCENARIO

Prints one line per result (replies as Python byte literals), so the test
that runs it compares plain text. Exits non-zero on any exception.
"""
import sys

import serial

TIMEOUT = 10


def open_port(url, **settings):
    return serial.serial_for_url(url, timeout=TIMEOUT, **settings)


def ask(port, request):
    port.write(request)
    return port.read_until(b"\r\n")


def basic(url):
    with open_port(url) as port:
        for request in [b"?\r\n", b"a\r\n", b"A;12.5\r\n", b"a\r\n", b"S;0.5\r\n", b"$\r\n",
                        b"!\r\n", b"A;\r\n", b"\xff\r\n"]:
            print(repr(ask(port, request)))
        print(repr(ask(port, b"a\r\n")))


def pipelined(url):
    with open_port(url) as port:
        port.write(b"A;1\r\nB;2,5\r\na\r\nb\r\n?\r\n")
        for _ in range(5):
            print(repr(port.read_until(b"\r\n")))


def readings(url):
    with open_port(url) as port:
        for _ in range(2):
            print(repr(port.read_until(b"\r\n")))


def reconnect(url):
    answered = 0
    for _ in range(20):
        with open_port(url) as port:
            if ask(port, b"?\r\n") == b"quillane, V 1.0\r\n":
                answered += 1
    print("answered", answered)


def second(url):
    with open_port(url) as first:
        print(repr(ask(first, b"?\r\n")))
        # Refused: the connection is closed at once, which pyserial meets as
        # an error while it opens or writes, or as the end of the input.
        try:
            with open_port(url) as other:
                other.write(b"?\r\n")
                refused = other.read(1) == b""
        except (serial.SerialException, OSError):
            refused = True
        print("second refused" if refused else "second answered")
        print(repr(ask(first, b"?\r\n")))


def hangup(url):
    with open_port(url) as port:
        print(repr(ask(port, b"?\r\n")))
        # The cable is pulled instead of this reply: pyserial meets the end
        # of the connection as an error, or as a read that ends empty.
        try:
            hung_up = ask(port, b"A;3\r\n") == b""
        except (serial.SerialException, OSError):
            hung_up = True
        print("hung up" if hung_up else "answered")
    with open_port(url) as port:
        print(repr(ask(port, b"a\r\n")))


def baudrate(url):
    with open_port(url) as port:
        print(repr(ask(port, b"?\r\n")))
        port.baudrate = 115200
        print("baudrate", port.baudrate)
        print(repr(ask(port, b"?\r\n")))


if __name__ == "__main__":
    globals()[sys.argv[2]](sys.argv[1])
