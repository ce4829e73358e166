#!/usr/bin/env python3
# Prints the exact-value table of test_portable_math.cpp: sine and cosine of
# hard arguments, rounded to the nearest double from 1400-bit arithmetic.
#   python3 tests/portable_math/exact_values.py
import os
import struct
import sys
from fractions import Fraction

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "portable_math"))
from gen_constants import arctan_inv  # noqa: E402

BITS = 1400
ONE = 1 << BITS


PI = Fraction(4 * (4 * arctan_inv(5, ONE) - arctan_inv(239, ONE)), ONE)


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
