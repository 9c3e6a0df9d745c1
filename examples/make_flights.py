#!/usr/bin/env python3
"""Writes the sample flight files in the instrument's download format.

Each file: a first line carrying the FLIGHT (or CAL) marker, one data line per record
"MM/DD/YY HH:MM:SS," followed by 28 comma-separated fields, a closing "END" line; CR LF line ends.
Fields the graphs read: 1 RPM, 2 manifold pressure x10 (also read as fuel remaining), 3 RPM/10,
7 oil pressure x10, 8 oil temperature x10, 9 outside air temperature x10, 16-21 EGT, 22-27 CHT.
Run from this folder: python3 make_flights.py  (deterministic: the same files every run)
"""
import math
import random
from datetime import datetime, timedelta


def phase_of(t, total):
    """Ground run, climb, cruise, descent, taxi as fractions of the flight."""
    f = t / total
    if f < 0.03:
        return "ground"
    if f < 0.12:
        return "climb"
    if f < 0.88:
        return "cruise"
    if f < 0.97:
        return "descent"
    return "taxi"


def record(rng, t, total, fuel):
    phase = phase_of(t, total)
    rpm, mp, oat = {
        "ground": (1000, 145, 620),
        "climb": (2550, 262, 480),
        "cruise": (2400, 245, 410),
        "descent": (2150, 205, 520),
        "taxi": (950, 140, 610),
    }[phase]
    rpm += rng.randint(-15, 15)
    mp += rng.randint(-3, 3)
    oat += rng.randint(-5, 5)
    warm = min(1.0, t / (total * 0.08))  # oil and cylinders come up to temperature
    oil_temp = int(1300 + 550 * warm + rng.randint(-10, 10))
    oil_press = int(780 - 120 * warm + rng.randint(-10, 10))
    power = rpm / 2400.0
    fields = [""] * 28
    fields[0] = "%d" % int(t // 6)
    fields[1] = "%d" % rpm
    fields[2] = "%d" % mp
    fields[3] = "%d" % (rpm // 10)
    fields[4] = "%d" % int(fuel)
    fields[5] = "%d" % (138 + rng.randint(-2, 2))  # volts x10
    fields[6] = "%d" % (250 + rng.randint(-20, 20))  # amps x10
    fields[7] = "%d" % oil_press
    fields[8] = "%d" % oil_temp
    fields[9] = "%d" % oat
    fields[10] = "%d" % int(fuel * 10)
    fields[11] = "%d" % (95 if phase in ("climb", "cruise") else 40)  # fuel flow x10
    for k in range(12, 16):
        fields[k] = "0"
    for c in range(6):
        egt = 780 + (1380 - 780) * warm * power + 25 * (c - 2.5) + 20 * math.sin(t / 900 + c) + rng.randint(-6, 6)
        cht = 180 + (385 - 180) * warm * power + 8 * (c - 2.5) + 6 * math.sin(t / 1200 + c) + rng.randint(-3, 3)
        if phase in ("climb", "cruise"):
            egt = max(1200, min(1500, egt))
            cht = max(300, min(420, cht))
        fields[16 + c] = "%d" % int(egt)
        fields[22 + c] = "%d" % int(cht)
    return fields


def write_flight(name, marker, start, seconds, step, seed):
    rng = random.Random(seed)
    lines = [marker]
    fuel = 520.0  # gallons x10 in field 4; no graph reads it
    t = 0
    while t < seconds:
        when = start + timedelta(seconds=t)
        fields = record(rng, t, seconds, fuel)
        lines.append(when.strftime("%m/%d/%y %H:%M:%S") + "," + ",".join(fields))
        fuel -= 0.05 * step / 6
        t += step
    lines.append("END")
    with open(name, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("latin-1"))


def write_calibration(name):
    rng = random.Random(7)
    when = datetime(2026, 6, 2, 8, 15, 0)
    lines = ["CAL"]
    for i in range(4):
        fields = ["%d" % (i + 1)] + ["%d" % rng.randint(0, 1023) for _ in range(27)]
        lines.append((when + timedelta(seconds=i)).strftime("%m/%d/%y %H:%M:%S") + "," + ",".join(fields))
    lines.append("END")
    with open(name, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode("latin-1"))


if __name__ == "__main__":
    write_flight("flight_3h.txt", "FLIGHT 0001", datetime(2026, 6, 14, 9, 0, 0), 3 * 3600, 6, 1)
    write_flight("flight_short.txt", "FLIGHT 0002", datetime(2026, 6, 15, 16, 30, 0), 20 * 60, 6, 2)
    write_calibration("calibration.txt")
