#pragma once

#include <cstdint>

#include "modelbuilder/NumericConversion.h"

// Element type converters. A ScalarToScalar firing converts Input's current element by its Rule
// into Output's current element; it never fails and owns nothing. The models use it to turn their
// selector constants into the multiplexers' integer controls.
namespace CorvanaModelBuilder {

// The rounding rule: half away from zero, clamped to the 32-bit range, NaN to INT32_MIN.
struct TypeConverterRound {
    static std::int32_t Convert(double value) { return RoundToInt32Clamped(value); }
};

template <class Base>
class TypeConverterBase : public Base {};

template <class InBuffer, class OutBuffer, class Rule, class Base>
class TypeConverter : public TypeConverterBase<Base> {
public:
    InBuffer Input;
    OutBuffer Output;
};

template <class InBuffer, class OutBuffer, class Rule, class Base>
class ScalarToScalar : public TypeConverter<InBuffer, OutBuffer, Rule, Base> {
public:
    bool Run() override {
        this->Output.Current() = Rule::Convert(this->Input.Current());
        return true;
    }
};

}  // namespace CorvanaModelBuilder
