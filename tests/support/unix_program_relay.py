#!/usr/bin/env python3
"""Starts Linux programs on behalf of Windows test programs running under Wine.

    unix_program_relay.py COMMAND [ARGS...]

Runs COMMAND (a Windows test program under scripts/wine-run) with
ZEMLINK_UNIX_RELAY set to a loopback port where this relay listens, and ends
with COMMAND's exit code. A Windows process cannot wait for, kill or read the
exit code of a Linux program it starts itself (Wine hands back no process
handle for one), so the test support asks the relay instead: one connection
per program, carrying frames of one type byte, a 4-byte little-endian length
and the data.

  test -> relay   R  the arguments, each ended by a NUL byte (first frame)
                  I  bytes for the program's standard input
                  C  close its standard input
                  K  kill it (SIGKILL)
  relay -> test   O  bytes of its standard output
                  E  bytes of its standard error
                  X  "<exit code> <signal>" once it ended (code -1 after a
                     signal); the relay closes the connection after it

A connection that closes before its program ended kills the program, and
every program still running when COMMAND ends is killed, so that nothing a
test started outlives it.
"""
import os
import signal
import socket
import struct
import subprocess
import sys
import threading

children = set()
children_lock = threading.Lock()


def receive_exactly(connection, count):
    data = b""
    while len(data) < count:
        chunk = connection.recv(count - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def receive_frame(connection):
    header = receive_exactly(connection, 5)
    if header is None:
        return None, None
    kind, length = header[:1], struct.unpack("<I", header[1:])[0]
    payload = receive_exactly(connection, length)
    if payload is None:
        return None, None
    return kind, payload


class Relayed:
    """One program and the connection of the test that started it."""

    def __init__(self, connection):
        self.connection = connection
        self.send_lock = threading.Lock()

    def send(self, kind, payload):
        with self.send_lock:
            try:
                self.connection.sendall(kind + struct.pack("<I", len(payload)) + payload)
            except OSError:
                pass  # the test is gone; the program is killed below

    def pump(self, stream, kind):
        while True:
            data = os.read(stream.fileno(), 65536)
            if not data:
                return
            self.send(kind, data)

    def serve(self):
        kind, payload = receive_frame(self.connection)
        if kind != b"R":
            self.connection.close()
            return
        argv = [arg.decode() for arg in payload.split(b"\0")[:-1]]
        try:
            process = subprocess.Popen(argv, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                       stderr=subprocess.PIPE, bufsize=0)
        except OSError as error:
            self.send(b"E", f"relay: cannot start {argv[0]}: {error}\n".encode())
            self.send(b"X", b"127 0")
            self.connection.close()
            return
        with children_lock:
            children.add(process)
        pumps = [threading.Thread(target=self.pump, args=(process.stdout, b"O")),
                 threading.Thread(target=self.pump, args=(process.stderr, b"E"))]
        for pump in pumps:
            pump.start()
        ending = threading.Thread(target=self.report_end, args=(process, pumps))
        ending.start()
        while True:
            kind, payload = receive_frame(self.connection)
            if kind is None or kind == b"K":
                process.kill()
                if kind is None:
                    break
            elif kind == b"I" and process.stdin is not None:
                try:
                    process.stdin.write(payload)
                except OSError:
                    pass  # it closed its input or ended
            elif kind == b"C" and process.stdin is not None:
                try:
                    process.stdin.close()
                except OSError:
                    pass
        ending.join()

    def report_end(self, process, pumps):
        for pump in pumps:
            pump.join()
        code = process.wait()
        with children_lock:
            children.discard(process)
        signal_number = -code if code < 0 else 0
        self.send(b"X", f"{-1 if code < 0 else code} {signal_number}".encode())
        try:
            self.connection.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def listen():
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.bind(("127.0.0.1", 0))
    server.listen(16)

    def accept_loop():
        while True:
            connection, _ = server.accept()
            connection.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            threading.Thread(target=Relayed(connection).serve, daemon=True).start()

    threading.Thread(target=accept_loop, daemon=True).start()
    return server.getsockname()[1]


def main():
    if len(sys.argv) < 2:
        print(__doc__.strip().splitlines()[2], file=sys.stderr)
        return 2
    environment = dict(os.environ, ZEMLINK_UNIX_RELAY=str(listen()))
    command = subprocess.Popen(sys.argv[1:], env=environment)
    # CTest ends a test that ran too long with SIGTERM/SIGKILL to this process.
    signal.signal(signal.SIGTERM, lambda *_: command.terminate())
    status = command.wait()
    with children_lock:
        for child in children:
            child.kill()
    return status if status >= 0 else 128 - status


if __name__ == "__main__":
    sys.exit(main())
