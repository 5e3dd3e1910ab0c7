#pragma once

namespace CorvanaModelBuilder {

// sum + term, with sum as the first operand also in the machine code. When both are NaN, x86
// returns the first operand's NaN, and compilers feel free to swap the operands of an addition;
// every FIR path adds through this, so that they agree to the bit even on NaN inputs.
inline double OrderedAdd(double sum, double term) {
#if defined(__x86_64__)
    __asm__("addsd %1, %0" : "+x"(sum) : "x"(term));
    return sum;
#else
    return sum + term;
#endif
}

}  // namespace CorvanaModelBuilder
