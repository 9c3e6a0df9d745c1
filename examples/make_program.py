#!/usr/bin/env python3
"""Writes the sample firmware program example.S19: an S0 header, S1 data records of 16 bytes from
address 8000 (hexadecimal), and an S9 start record, in the Motorola S-record format with CR LF line
ends. The bytes are a deterministic pattern, not code for any processor: the simulator stores them.
Run from this folder: python3 make_program.py [SIZE]  (SIZE in bytes, default 2048)
"""
import sys


def record(kind, address, data, address_bytes):
    body = [len(data) + address_bytes + 1] + list(address.to_bytes(address_bytes, "big")) + list(data)
    checksum = 0xFF - (sum(body) & 0xFF)
    return kind + "".join(f"{b:02X}" for b in body) + f"{checksum:02X}"


def program(size, start=0x8000):
    lines = [record("S0", 0, b"example", 2)]
    for offset in range(0, size, 16):
        data = bytes((offset + k) * 7 % 251 for k in range(min(16, size - offset)))
        lines.append(record("S1", start + offset, data, 2))
    lines.append(record("S9", start, b"", 2))
    return "\r\n".join(lines) + "\r\n"


if __name__ == "__main__":
    size = int(sys.argv[1]) if len(sys.argv) > 1 else 2048
    with open("example.S19", "w", newline="") as f:
        f.write(program(size))
