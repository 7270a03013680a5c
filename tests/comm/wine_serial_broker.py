#!/usr/bin/env python3
"""Serial lines for the Windows serial tests that run under Wine.

A Windows program can't make a pseudo-terminal, so this Linux-side helper
makes them: each becomes a COM port of the Wine prefix (a link in
$WINEPREFIX/dosdevices) and is played through one loopback connection.
It listens on 127.0.0.1, prints "broker 127.0.0.1:PORT" and serves until it
is terminated. Each connection asks one thing in its first line:

  PTY [N]        a new pseudo-terminal as COM N (else the lowest free number
                 from 5 up); answers "COMn", then the connection is the
                 device's side of the line: bytes in both directions. Closing
                 the connection hangs the line up.
  WRITTEN COMn   how many bytes from the test have reached COMn's terminal
                 so far: "written N". A test's send waits for it, so that
                 its bytes are on the line when it goes on, as on Linux.
  SETTINGS COMn  the line settings the port left on COMn's terminal:
                 "baud=19200 data=8 parity=N stop=1 raw=1 rtscts=0".
  SIM ARGS...    the controller simulator (--sim PATH) with --serial --once
                 and ARGS on a new COM port; answers "COMn", and once the
                 simulator has ended "summary: ..." and "image LENGTH" followed
                 by the last whole image (LENGTH 0: none). Closing the
                 connection early stops the simulator.

Everything else is answered "error TEXT".
"""

import argparse
import fcntl
import os
import pty
import select
import signal
import socket
import subprocess
import sys
import tempfile
import termios
import threading
import tty

FIRST_COM = 5
LAST_COM = 99

lock = threading.Lock()
lines = {}  # COM number -> slave descriptor, while the line is up
written = {}  # COM number -> bytes written to its terminal, while the line is up


def link_path(number):
    return os.path.join(os.environ["WINEPREFIX"], "dosdevices", "com%d" % number)


def take_number(wanted, slave_path, slave_fd):
    """Links the lowest free COM number (or `wanted`) to the terminal."""
    with lock:
        candidates = [wanted] if wanted else range(FIRST_COM, LAST_COM + 1)
        for number in candidates:
            if number in lines:
                continue
            path = link_path(number)
            if os.path.lexists(path):
                os.remove(path)
            os.symlink(slave_path, path)
            lines[number] = slave_fd
            return number
    return 0


def give_back(number):
    with lock:
        lines.pop(number, None)
        written.pop(number, None)
        try:
            os.remove(link_path(number))
        except FileNotFoundError:
            pass


def read_line(conn):
    data = b""
    while not data.endswith(b"\n"):
        chunk = conn.recv(1)
        if not chunk:
            return None
        data += chunk
    return data.decode().strip()


# What the connection may hold on its way to the test: small, so that a
# port whose device doesn't read finds its writes held up soon, as on a line.
SOCKET_BUFFER = 4096


def relay(conn, master, number):
    """Bytes both ways until the test closes its side."""
    conn.setblocking(True)
    conn.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, SOCKET_BUFFER)
    try:
        relay_until_closed(conn, master, number)
    except OSError:
        pass  # the test went away with bytes unread


def relay_until_closed(conn, master, number):
    while True:
        ready, _, _ = select.select([conn, master], [], [])
        if conn in ready:
            data = conn.recv(65536)
            if not data:
                return
            view = memoryview(data)
            while view:
                done = os.write(master, view)
                view = view[done:]
                with lock:
                    written[number] = written.get(number, 0) + done
        if master in ready:
            try:
                data = os.read(master, SOCKET_BUFFER)
            except OSError:
                # Nobody holds the terminal's other side any more.
                data = b""
            if data:
                conn.sendall(data)
            else:
                select.select([conn], [], [])
                if not conn.recv(65536):
                    return


def hold_as_controlling_terminal(slave):
    """A session of its own that has the terminal as its controlling one.

    A terminal controls one session at most. Without this, the first session
    leader that opens it without O_NOCTTY takes it, the wineserver among
    them, and the hang-up of the line then signals that session."""
    return subprocess.Popen(["sleep", "infinity"], stdin=slave, stdout=subprocess.DEVNULL,
                            start_new_session=True,
                            preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))


def serve_pty(conn, words):
    wanted = int(words[1]) if len(words) > 1 else 0
    master, slave = pty.openpty()
    tty.setraw(slave)
    holder = hold_as_controlling_terminal(slave)
    number = take_number(wanted, os.ttyname(slave), slave)
    try:
        if not number:
            conn.sendall(b"error no free COM number\n")
            return
        conn.sendall(b"COM%d\n" % number)
        relay(conn, master, number)
    finally:
        os.close(master)
        if number:
            give_back(number)
        os.close(slave)
        holder.kill()
        holder.wait()


SPEEDS = {getattr(termios, name): int(name[1:]) for name in dir(termios)
          if name.startswith("B") and name[1:].isdigit()}


def com_number(words):
    return int(words[1][3:]) if len(words) > 1 and words[1].upper().startswith("COM") else 0


def serve_written(conn, words):
    number = com_number(words)
    with lock:
        if number not in lines:
            conn.sendall(b"error no such line\n")
            return
        count = written.get(number, 0)
    conn.sendall(b"written %d\n" % count)


def serve_settings(conn, words):
    number = com_number(words)
    with lock:
        fd = lines.get(number)
        if fd is None:
            conn.sendall(b"error no such line\n")
            return
        iflag, oflag, cflag, lflag, ispeed, ospeed, _ = termios.tcgetattr(fd)
    size = {termios.CS5: 5, termios.CS6: 6, termios.CS7: 7, termios.CS8: 8}[cflag & termios.CSIZE]
    parity = "N"
    if cflag & termios.PARENB:
        parity = "O" if cflag & termios.PARODD else "E"
    raw = not (iflag & (termios.IXON | termios.IXOFF | termios.ICRNL) or
               lflag & (termios.ICANON | termios.ECHO | termios.ISIG) or oflag & termios.OPOST)
    conn.sendall(b"baud=%d data=%d parity=%s stop=%d raw=%d rtscts=%d\n" % (
        SPEEDS.get(ospeed, 0), size, parity.encode(), 2 if cflag & termios.CSTOPB else 1,
        1 if raw else 0, 1 if cflag & termios.CRTSCTS else 0))


def serve_sim(conn, words, sim):
    if not sim:
        conn.sendall(b"error the simulator was not given\n")
        return
    with tempfile.TemporaryDirectory() as folder:
        image = os.path.join(folder, "image.bin")
        process = subprocess.Popen([sim, "--serial", "--once", "--image", image] + words[1:],
                                   stdout=subprocess.PIPE, text=True)
        number = 0
        try:
            banner = process.stdout.readline().split()
            if len(banner) != 2 or banner[0] != "serial":
                conn.sendall(b"error the simulator did not start\n")
                return
            number = take_number(0, banner[1], None)
            conn.sendall(b"COM%d\n" % number)
            # The simulator ends with its session; the test may give up first.
            while process.poll() is None:
                ready, _, _ = select.select([conn, process.stdout], [], [], 0.2)
                if conn in ready and not conn.recv(1):
                    return
                if process.stdout in ready:
                    line = process.stdout.readline()
                    if line.startswith("summary:"):
                        summary = line
                        break
            else:
                summary = process.stdout.readline()
            process.wait()
            data = b""
            if os.path.exists(image):
                with open(image, "rb") as f:
                    data = f.read()
            conn.sendall(summary.strip().encode() + b"\n" + b"image %d\n" % len(data) + data)
        finally:
            if number:
                give_back(number)
            if process.poll() is None:
                process.terminate()
                process.wait()


def serve(conn, sim):
    with conn:
        line = read_line(conn)
        if line is None:
            return
        words = line.split()
        if words and words[0] == "PTY":
            serve_pty(conn, words)
        elif words and words[0] == "WRITTEN":
            serve_written(conn, words)
        elif words and words[0] == "SETTINGS":
            serve_settings(conn, words)
        elif words and words[0] == "SIM":
            serve_sim(conn, words, sim)
        else:
            conn.sendall(b"error unknown request\n")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sim", default="")
    args = parser.parse_args()
    if "WINEPREFIX" not in os.environ:
        sys.exit("wine_serial_broker: WINEPREFIX is not set")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print("broker 127.0.0.1:%d" % listener.getsockname()[1], flush=True)
    try:
        while True:
            conn, _ = listener.accept()
            threading.Thread(target=serve, args=(conn, args.sim), daemon=True).start()
    finally:
        for number in list(lines):
            give_back(number)


if __name__ == "__main__":
    main()
