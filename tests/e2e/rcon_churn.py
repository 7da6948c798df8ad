#!/usr/bin/env python3
"""Opens and closes RCON connections to a dev server on this machine, as a
scanner or a monitoring tool would: COUNT times, each either closed at once
or after logging in and running one command. Exit status 1 if a cycle failed,
or if the server let one step of a cycle wait for STALL seconds: a slow
machine only makes the run longer, a server that hangs fails it.

Usage: rcon_churn.py PORT COUNT [PASSWORD COMMAND]"""
import socket
import struct
import sys
import time

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


def main():
    port, count = int(sys.argv[1]), int(sys.argv[2])
    login = sys.argv[3:5] if len(sys.argv) >= 5 else None
    for i in range(count):
        try:
            with socket.create_connection((HOST, port), timeout=STALL) as sock:
                if login:
                    login_and_run(sock, *login)
        except (OSError, ConnectionError) as e:
            print(f"cycle {i}: {e}", file=sys.stderr)
            return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
