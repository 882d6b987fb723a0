// A signed 128-bit integer, for the few products in the drawing kit that need more than 64 bits
// (a line's span times a position along it). GCC and Clang have one built in on every 64-bit
// target; where there is none (MSVC), WideInt stands in: exact, slower, and only ever used in the
// arithmetic that sets a shape up, never per pixel.
#pragma once

#include <cstdint>

namespace jxfb {

// Two's complement in two 64-bit halves, with the operators the drawing kit uses. Arithmetic wraps
// modulo 2^128 as the built-in type does; division truncates towards zero, as C++'s does.
class WideInt {
public:
    constexpr WideInt(std::int64_t v = 0)  // NOLINT: converts implicitly, like a built-in integer
        : lo_(static_cast<std::uint64_t>(v)), hi_(v < 0 ? ~std::uint64_t{0} : 0) {}

    // The low 64 bits, as a cast of the built-in type gives them.
    explicit operator std::int64_t() const { return static_cast<std::int64_t>(lo_); }
    std::uint64_t low() const { return lo_; }
    std::uint64_t high() const { return hi_; }

    friend WideInt operator+(WideInt a, WideInt b) {
        const std::uint64_t lo = a.lo_ + b.lo_;
        return {lo, a.hi_ + b.hi_ + (lo < a.lo_ ? 1 : 0)};
    }
    friend WideInt operator-(WideInt a, WideInt b) {
        return {a.lo_ - b.lo_, a.hi_ - b.hi_ - (a.lo_ < b.lo_ ? 1 : 0)};
    }
    friend WideInt operator-(WideInt a) { return WideInt() - a; }
    friend WideInt operator*(WideInt a, WideInt b) {
        WideInt product = multiply(a.lo_, b.lo_);
        product.hi_ += a.hi_ * b.lo_ + a.lo_ * b.hi_;
        return product;
    }
    friend WideInt operator/(WideInt a, WideInt b) {
        const bool negative = a.negative() != b.negative();
        const WideInt q = divide(a.negative() ? -a : a, b.negative() ? -b : b);
        return negative ? -q : q;
    }

    friend bool operator==(WideInt a, WideInt b) { return a.lo_ == b.lo_ && a.hi_ == b.hi_; }
    friend bool operator!=(WideInt a, WideInt b) { return !(a == b); }
    friend bool operator<(WideInt a, WideInt b) {
        if (a.hi_ != b.hi_) {
            return static_cast<std::int64_t>(a.hi_) < static_cast<std::int64_t>(b.hi_);
        }
        return a.lo_ < b.lo_;
    }
    friend bool operator>(WideInt a, WideInt b) { return b < a; }
    friend bool operator<=(WideInt a, WideInt b) { return !(b < a); }
    friend bool operator>=(WideInt a, WideInt b) { return !(a < b); }

private:
    constexpr WideInt(std::uint64_t lo, std::uint64_t hi) : lo_(lo), hi_(hi) {}
    bool negative() const { return hi_ >> 63 != 0; }

    // The full 128-bit product of two 64-bit numbers, from four 32-bit ones.
    static WideInt multiply(std::uint64_t a, std::uint64_t b) {
        const std::uint64_t a0 = a & 0xFFFFFFFFu, a1 = a >> 32, b0 = b & 0xFFFFFFFFu, b1 = b >> 32;
        const std::uint64_t low = a0 * b0, cross1 = a1 * b0, cross2 = a0 * b1;
        const std::uint64_t middle = (low >> 32) + (cross1 & 0xFFFFFFFFu) + (cross2 & 0xFFFFFFFFu);
        return {(middle << 32) | (low & 0xFFFFFFFFu),
                a1 * b1 + (cross1 >> 32) + (cross2 >> 32) + (middle >> 32)};
    }

    // Unsigned quotient of n by d (d != 0), one bit at a time.
    static WideInt divide(WideInt n, WideInt d) {
        WideInt quotient, rest;
        for (int bit = 127; bit >= 0; --bit) {
            const std::uint64_t next = (bit >= 64 ? n.hi_ >> (bit - 64) : n.lo_ >> bit) & 1;
            rest = {(rest.lo_ << 1) | next, (rest.hi_ << 1) | (rest.lo_ >> 63)};
            if (!(rest.hi_ < d.hi_ || (rest.hi_ == d.hi_ && rest.lo_ < d.lo_))) {
                rest = rest - d;
                if (bit >= 64) {
                    quotient.hi_ |= std::uint64_t{1} << (bit - 64);
                } else {
                    quotient.lo_ |= std::uint64_t{1} << bit;
                }
            }
        }
        return quotient;
    }

    std::uint64_t lo_;
    std::uint64_t hi_;
};

#if defined(__SIZEOF_INT128__) && !defined(JXFB_PORTABLE_INT128)
using Int128 = __int128;
#else
using Int128 = WideInt;
#endif

}  // namespace jxfb
