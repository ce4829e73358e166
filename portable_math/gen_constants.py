#!/usr/bin/env python3
# Prints the constants of PortableMath.cpp from exact integer arithmetic:
#   python3 portable_math/gen_constants.py
# 2/pi as 32-bit words, pi/2 and ln 2 as double-double pairs, and 1/n! as
# double-double pairs for n = 0 .. 23.
from fractions import Fraction
import math

BITS = 1400
ONE = 1 << (BITS + 64)


def arctan_inv(x, one=ONE):
    # arctan(1/x) * one, by its series
    total = term = one // x
    n, sign = 1, 1
    while term:
        term //= x * x
        n += 2
        sign = -sign
        total += sign * (term // n)
    return total


def atanh_inv(x):
    total = term = ONE // x
    n = 1
    while term:
        term //= x * x
        n += 2
        total += term // n
    return total


def double_double(value):
    hi = float(value)  # Fraction -> float rounds to nearest
    lo = float(value - Fraction(hi))
    return hi, lo


def main():
    pi_scaled = 4 * (4 * arctan_inv(5) - arctan_inv(239))  # pi * ONE (Machin)
    two_over_pi_bits = ((2 * ONE) << BITS) // pi_scaled     # floor(2/pi * 2^BITS)
    words = [(two_over_pi_bits >> (BITS - 32 * (i + 1))) & 0xFFFFFFFF for i in range(40)]
    print("// 2/pi, bits 1 .. 1280")
    for i in range(0, len(words), 6):
        print("    " + " ".join("0x%08X," % w for w in words[i:i + 6]))

    hi, lo = double_double(Fraction(pi_scaled, ONE) / 2)
    print("pi/2: {%s, %s}" % (hi.hex(), lo.hex()))
    hi, lo = double_double(Fraction(2 * atanh_inv(3), ONE))  # ln 2 = 2 atanh(1/3)
    print("ln 2: {%s, %s}" % (hi.hex(), lo.hex()))
    print("1/n!:")
    for n in range(24):
        hi, lo = double_double(Fraction(1, math.factorial(n)))
        print("    {%s, %s},  // 1/%d!" % (hi.hex(), lo.hex(), n))


if __name__ == "__main__":
    main()
