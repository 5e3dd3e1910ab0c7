#include "modelbuilder/DFModel.h"

#include <iostream>

namespace CorvanaModelBuilder {
namespace {

void WriteLine(const char* text) {
    if (text != nullptr) std::cerr << text;
    std::cerr << '\n' << std::flush;
}

}  // namespace

void DFModel::ReportError(const char* text) { WriteLine(text); }

void DFModel::ReportWarning(const char* text) { WriteLine(text); }

}  // namespace CorvanaModelBuilder
