#pragma once

namespace CorvanaModelBuilder {

// Base of every block and of the device models. Each phase answers with a success flag; an owner
// runs a phase on all of its blocks, never stopping early, and ANDs the results. Blocks describe
// their own problems as one line each on standard error.
class DFModel {
public:
    virtual bool Setup() { return true; }
    virtual bool Initialize() { return true; }
    virtual bool Run() { return true; }
    virtual bool Finalize() { return true; }
    virtual bool CheckParameters() { return true; }
    virtual ~DFModel() = default;

    // Both write the text, one newline, and flush; a null text writes an empty line.
    void ReportError(const char* text);
    void ReportWarning(const char* text);
};

}  // namespace CorvanaModelBuilder
