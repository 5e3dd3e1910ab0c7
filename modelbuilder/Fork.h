#pragma once

#include <cstdint>

#include "modelbuilder/CircularBufferBus.h"
#include "modelbuilder/DFModel.h"

namespace CorvanaModelBuilder {

// Fan-out. A firing copies Input's current element to the current element of every output;
// the owner sizes Outputs before Setup. Never fails.
template <class Buffer>
class Fork : public DFModel {
public:
    Buffer Input;
    CircularBufferBusT<Buffer> Outputs;

    bool Run() override {
        const auto value = Input.Current();
        for (std::uint64_t i = 0; i < Outputs.Count; ++i) {
            Outputs.Buffers[i].Current() = value;
        }
        return true;
    }
};

}  // namespace CorvanaModelBuilder
