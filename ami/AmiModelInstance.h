#pragma once

#include <cstdint>
#include <string>

#include "amiparams/AmiParameters.h"
#include "modelbuilder/CircularBuffer.h"

// What AMI_Init hands the host as the memory handle: the device model, its message log, and the
// one-sample stores of the model's input and output port.
template <class Model>
struct AmiModelInstance {
    Model model;
    std::string messageLog;
    // The text msg points at: a copy of the log taken when AMI_Init returns, never changed
    // afterwards, because hosts read that pointer late and later calls still append to the log.
    std::string reportedText;
    double inputStore = 0.0;
    double outputStore = 0.0;

    void AttachPorts() {
        CorvanaModelBuilder::AttachSingleElement(model.Input, &inputStore);
        CorvanaModelBuilder::AttachSingleElement(model.Output, &outputStore);
    }
    void DetachPorts() {
        CorvanaModelBuilder::AttachSingleElement<double>(model.Input, nullptr);
        CorvanaModelBuilder::AttachSingleElement<double>(model.Output, nullptr);
    }
    // One sample through the model; false (sample untouched) when the model's Run fails.
    bool Process(double& sample) {
        model.Input.Data[model.Input.Position] = sample;
        if (!model.Run()) return false;
        sample = model.Output.Data[model.Output.Position];
        return true;
    }
    void Log(const char* sentence) noexcept {
        try {
            messageLog += sentence;
        } catch (...) {  // out of memory: the sentence is lost, the host is not
        }
    }
};

// A parameter the entry point reads, with the sentence logged when it cannot be read.
struct AmiParameterRead {
    const char* path;
    double* asDouble;
    std::int32_t* asInt;
    const char* warning;
};

// Missing or unreadable parameters keep the model's defaults and add their warnings. A null
// parameter string reads as an empty one.
template <class Instance, std::size_t N>
void ReadAmiParameters(Instance& instance, const char* text, const AmiParameterRead (&reads)[N]) {
    AmiParameters parameters = ParseAmiParameters(text != nullptr ? text : "");
    for (const AmiParameterRead& read : reads) {
        const bool found = read.asDouble != nullptr
                               ? GetAmiDouble(parameters, *read.asDouble, read.path)
                               : GetAmiInt(parameters, *read.asInt, read.path);
        if (!found) instance.Log(read.warning);
    }
    ReleaseAmiParameters(parameters);
}

struct AmiLifecycleLines {
    const char* setup;
    const char* initialize;
    const char* run;
    const char* finalize;
};

// Columns 0 to aggressors of a column-major matrix, each through a complete lifecycle so that no
// filter state carries from one column to the next. A failure stops at the failing sample (it
// and the rest keep their values), still finalizes, and leaves later columns untouched.
template <class Instance>
bool FilterColumns(Instance& instance, double* matrix, std::int32_t rows, std::int32_t aggressors,
                   const AmiLifecycleLines& lines) {
    auto& model = instance.model;
    bool ok = true;
    for (std::int64_t column = 0; column <= aggressors && ok; ++column) {
        if (!model.Setup()) {
            instance.Log(lines.setup);
            ok = false;
        } else if (!model.Initialize()) {
            instance.Log(lines.initialize);
            ok = false;
        } else {
            double* samples = matrix + column * rows;  // 64-bit: no 32-bit overflow
            for (std::int32_t i = 0; i < rows; ++i) {
                if (!instance.Process(samples[i])) {
                    instance.Log(lines.run);
                    ok = false;
                    break;
                }
            }
        }
        if (!model.Finalize()) {
            instance.Log(lines.finalize);
            ok = false;
        }
    }
    return ok;
}

// The end of every AMI_Init: the handle also on failure, msg only for a non-empty log. With no
// place for the handle the host could never close the instance, so it is freed here.
template <class Instance>
long FinishAmiInit(Instance* instance, void** handle, char** msg, bool ok) {
    if (handle == nullptr) {
        delete instance;
        return 0;
    }
    *handle = instance;
    if (!instance->messageLog.empty()) {
        try {
            instance->reportedText = instance->messageLog;
        } catch (...) {
            return 0;
        }
        if (msg != nullptr) *msg = const_cast<char*>(instance->reportedText.c_str());
    }
    return ok ? 1 : 0;
}

// The frame of every AMI_Init: makes the instance, runs `body` on it and finishes. Running out of
// memory never reaches the host: the body's work stops, the sentence is logged and the result is
// 0; without even an instance the handle is null.
template <class Instance, class Body>
long RunAmiInit(void** handle, char** msg, const char* outOfMemory, Body body) {
    Instance* instance = nullptr;
    try {
        instance = new Instance();
    } catch (...) {
        if (handle != nullptr) *handle = nullptr;
        return 0;
    }
    bool ok = false;
    try {
        ok = body(*instance);
    } catch (...) {
        instance->Log(outOfMemory);
    }
    return FinishAmiInit(instance, handle, msg, ok);
}

// The standard's long, used as a 32-bit signed integer (its low 32 bits, as the host's
// arithmetic on a 32-bit long would give).
inline std::int32_t AmiLong(long value) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned long>(value)));
}
