"""Writes floats.txt: doubles with the text Python 3.12's repr gives them.

Each line is the IEEE bit pattern in 16 hex digits, a space and repr(value).
Run with Python 3.12 from this folder; the output is committed alongside.
"""
import math
import random
import struct
import sys


def from_bits(bits):
    return struct.unpack("<d", struct.pack("<Q", bits))[0]


def to_bits(value):
    return struct.unpack("<Q", struct.pack("<d", value))[0]


def neighbours(value, count=3):
    out = [value]
    up = down = value
    for _ in range(count):
        up = math.nextafter(up, math.inf)
        down = math.nextafter(down, -math.inf)
        out += [up, down]
    return out


def sample():
    rng = random.Random(20261207)
    values = [0.0, -0.0, 5e-324, -5e-324, 2.2250738585072014e-308, 2.225073858507201e-308,
              1.7976931348623157e308, -1.7976931348623157e308, 0.9999999999999999,
              1.0000000000000002, 0.1, 0.2, 0.3, 0.1 + 0.2, 1 / 3, 2 / 3, 123456.789, 1.5e-7,
              9007199254740992.0, 9007199254740993.0, 4503599627370496.5, 1e15 + 0.5,
              1e16 - 2, 2.0**63, 2.0**64, 2.0**-1074 * 3, 0.5, 1.5, 2.5, 1e22, 1e23]
    # Edges of the fixed and exponent forms.
    for edge in (1e16, 1e15, 1e-4, 1e-5, 1e-16, 1e17, 9999999999999998.0, 0.0001, 0.00001):
        values += neighbours(edge, 4)
    for exponent in range(-325, 309):
        power = float(f"1e{exponent}")
        values += neighbours(power, 1)
        values.append(5 * power)
    for exponent in range(-1074, 1024):
        values.append(math.ldexp(1.0, exponent))
    for _ in range(300):  # subnormals
        values.append(from_bits(rng.randrange(1, 1 << 52)))
    for _ in range(300):  # integers around 2**53
        values.append(float(2**53 + rng.randrange(-10**6, 10**6)))
    for _ in range(1500):  # integral values in the fixed range
        values.append(float(rng.randrange(0, 10**16)))
    for _ in range(2000):  # decimals with few digits
        digits = rng.randrange(1, 10**rng.randrange(1, 18))
        values.append(float(f"{digits}e{rng.randrange(-25, 25)}"))
    for _ in range(4000):  # uniform in magnitude
        values.append(rng.uniform(0.5, 1.0) * 10.0 ** rng.randrange(-20, 22))
    while len(values) < 20000:  # uniform over the bit patterns
        value = from_bits(rng.getrandbits(64))
        if math.isfinite(value):
            values.append(value)
    seen = set()
    for value in values:
        if not math.isfinite(value):
            continue
        for signed in (value, -value) if rng.random() < 0.2 else (value,):
            bits = to_bits(signed)
            if bits not in seen:
                seen.add(bits)
                yield bits, signed


def main():
    assert sys.version_info[:2] == (3, 12)
    with open("floats.txt", "w", encoding="ascii") as out:
        for bits, value in sample():
            out.write(f"{bits:016x} {value!r}\n")


if __name__ == "__main__":
    main()
