#!/usr/bin/env python3
# Prints the exact-value table of test_portable_math.cpp: sine and cosine of
# hard arguments, rounded to the nearest double from 1400-bit arithmetic.
#   python3 tests/portable_math/exact_values.py
import struct
from fractions import Fraction

BITS = 1400
ONE = 1 << BITS


def arctan_inv(x):
    total = term = ONE // x
    n, sign = 1, 1
    while term:
        term //= x * x
        n += 2
        sign = -sign
        total += sign * (term // n)
    return total


PI = Fraction(4 * (4 * arctan_inv(5) - arctan_inv(239)), ONE)


def as_float(value):
    return struct.unpack("f", struct.pack("f", value))[0]


def fixed(value):
    return int(value * ONE)


def alternating_series(r, first):
    # sum of (-1)^k r^(first + 2k) / (first + 2k)! in BITS-bit fixed point
    total = term = r if first == 1 else ONE
    k = first
    while term:
        term = -term * r // ONE * r // ONE // ((k + 1) * (k + 2))
        total += term
        k += 2
    return Fraction(total, ONE)


def sin_cos(x):
    half_pi = PI / 2
    n = round(x / half_pi)
    r = fixed(x - n * half_pi)  # |r| <= pi/4
    s, c = alternating_series(r, 1), alternating_series(r, 0)
    return [(s, c), (c, -s), (-s, -c), (-c, s)][n % 4]


cases = [
    ("6381956970095103 * 2^797", Fraction(6381956970095103) * 2**797),
    ("1e22", Fraction(10**22)),
    ("the double nearest pi", Fraction(0x1921fb54442d18, 2**51)),
    ("the double nearest pi/2", Fraction(0x1921fb54442d18, 2**52)),
    ("2^1023 (2 - 2^-52)", Fraction(2**53 - 1) * 2**971),
    ("the double nearest 1e300", Fraction(1e300)),
    ("2^63", Fraction(2**63)),
    ("6.2831855f * 1e30f, as a float", Fraction(as_float(as_float(6.2831855) * as_float(1e30)))),
]
for name, x in cases:
    s, c = sin_cos(x)
    print('    {"%s", %s, %s, %s},' % (name, float(x).hex(), float(s).hex(), float(c).hex()))
