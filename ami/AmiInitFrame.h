#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>

#include "amiparams/AmiParameters.h"
#include "models/ModelGraph.h"

// The frame every AMI_Init runs in: reading the model's parameters, making the instance, and
// handing the handle and the message text back, so that nothing but a result code reaches the
// host.

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

// What the log says about the model's time base; neither sentence changes a result. A rate above
// the models' bound fails Setup, and the user learns why here. A simulator whose sample interval
// is not the model's own period gets filters at the wrong time base, which the model cannot mend
// (it filters at its own rate by design), so it says so.
template <class Instance>
void LogTimeBase(Instance& instance, const char* model, const char* parameter, double rate,
                 double sampleInterval) {
    using ModelGraph::FormatNumber;
    const std::string prefix = std::string("The IBIS-AMI model, ") + model;
    if (ModelGraph::AboveSampleRateBound(rate)) {
        instance.Log((prefix + ", cannot run at " + parameter + " = " + FormatNumber(rate) +
                      ": the largest supported sample rate is " +
                      FormatNumber(ModelGraph::kMaxSampleRate) + " samples per second. ")
                         .c_str());
    }
    if (!(sampleInterval > 0.0) || !std::isfinite(sampleInterval) || !(rate > 0.0)) return;
    if (std::fabs(rate * sampleInterval - 1.0) <= 1e-6) return;
    instance.Log((prefix + ", filters at its own " + parameter + " of " + FormatNumber(rate) +
                  " samples per second, but the simulator's sample_interval is " +
                  FormatNumber(sampleInterval) + " s (" + FormatNumber(1.0 / sampleInterval) +
                  " samples per second). Set " + parameter + " to 1/sample_interval. ")
                     .c_str());
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
