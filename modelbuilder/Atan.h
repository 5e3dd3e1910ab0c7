#pragma once

#include <cstddef>

namespace CorvanaModelBuilder {

// Arc tangent from exactly rounded IEEE-754 operations only (add, subtract, multiply, divide;
// never fused, never a C library call), so that the soft limiter gives the same bits on every
// x86-64 CPU, compiler build and operating system. Less than 1 ulp from the exact value over the
// whole double range: the argument is reduced against atan(1/2), atan(1) or atan(3/2) (or taken
// as -1/x beyond 2.4375), and the remainder's odd polynomial is summed in two halves. NaN stays
// NaN, +-0 keeps its sign, +-inf gives +-pi/2.
double Atan(double x);

// Atan of x[0 .. n-1] into y (which may be x), four lanes at a time, each lane the bits of Atan.
void AtanBlock(const double* x, double* y, std::size_t n);

}  // namespace CorvanaModelBuilder
