#!/usr/bin/env python3
"""Opens and closes RCON connections to a dev server on this machine, as a
scanner or a monitoring tool would: COUNT times, each either closed at once
or after logging in and running one command, from THREADS clients at once
(default 1). Exit status 1 if a cycle failed, or if the server let one step
of a cycle wait for STALL seconds: a slow machine only makes the run longer,
a server that hangs fails it.

Usage: rcon_churn.py PORT [-j THREADS] COUNT [PASSWORD COMMAND]"""
import socket
import struct
import sys
import threading

HOST = "127.0.0.1"  # loopback only: this is a load on our own server
STALL = 20.0
AUTH, AUTH_RESPONSE, EXEC = 3, 2, 2


def packet(pid, ptype, body):
    # surrogateescape: bytes of the command line that are not UTF-8 go out
    # as they came in.
    data = struct.pack("<ii", pid, ptype) + body.encode("utf-8", "surrogateescape") + b"\0\0"
    return struct.pack("<i", len(data)) + data


def read_packet(sock):
    def exactly(n):
        data = b""
        while len(data) < n:
            chunk = sock.recv(n - len(data))
            if not chunk:
                raise ConnectionError("closed by the server")
            data += chunk
        return data

    (size,) = struct.unpack("<i", exactly(4))
    pid, ptype = struct.unpack("<ii", exactly(8))
    return pid, ptype, exactly(size - 8)[:-2]


def login_and_run(sock, password, command):
    sock.sendall(packet(1, AUTH, password))
    while True:
        pid, ptype, _ = read_packet(sock)
        if ptype == AUTH_RESPONSE:
            break
    if pid != 1:
        raise ConnectionError("login refused")
    sock.sendall(packet(2, EXEC, command))
    pid, _, body = read_packet(sock)
    if pid != 2 or not body:
        raise ConnectionError(f"unexpected reply {pid}: {body[:80]!r}")


def cycles(port, count, login, failures):
    for i in range(count):
        try:
            with socket.create_connection((HOST, port), timeout=STALL) as sock:
                if login:
                    login_and_run(sock, *login)
        except (OSError, ConnectionError) as e:
            failures.append(f"cycle {i}: {e}")
            return


def main():
    args = sys.argv[1:]
    threads = 1
    if "-j" in args:
        at = args.index("-j")
        threads, args = int(args[at + 1]), args[:at] + args[at + 2:]
    port, count = int(args[0]), int(args[1])
    login = args[2:4] if len(args) >= 4 else None
    failures = []
    workers = [
        threading.Thread(target=cycles,
                         args=(port, count // threads + (1 if t < count % threads else 0),
                               login, failures))
        for t in range(threads)
    ]
    for w in workers:
        w.start()
    for w in workers:
        w.join()
    for failure in failures:
        print(failure, file=sys.stderr)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
