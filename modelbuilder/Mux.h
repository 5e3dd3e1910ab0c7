#pragma once

#include <algorithm>
#include <cstdint>
#include <locale>
#include <sstream>
#include <string>

#include "modelbuilder/CircularBufferBus.h"
#include "modelbuilder/DFModel.h"

namespace CorvanaModelBuilder {

// Selector. A firing copies BlockSize elements of input number Control to Output; the owner sets
// Control before every Run. Setup fails on BlockSize < 1; a Control outside the inputs fails the
// firing with a message naming the value and the valid range, and Output stays untouched.
template <class Buffer>
class Mux : public DFModel {
public:
    CircularBufferBusT<Buffer> Inputs;
    Buffer Output;
    std::int32_t Control = 0;
    std::int32_t BlockSize = 1;

    bool Setup() override {
        if (BlockSize < 1) {
            ReportError("BlockSize must be >= 1");
            return false;
        }
        const auto size = static_cast<std::uint64_t>(BlockSize);
        Declare(Output, size);
        for (std::uint64_t i = 0; i < Inputs.Count; ++i) Declare(Inputs.Buffers[i], size);
        return true;
    }

    bool Run() override {
        if (Control >= 0 && static_cast<std::uint64_t>(Control) < Inputs.Count) {
            Inputs.Buffers[Control].CopyTo(0, Output, 0, static_cast<std::uint64_t>(BlockSize));
            return true;
        }
        ReportError(ControlRangeMessage(Control, Inputs.Count).c_str());
        return false;
    }

    static std::string ControlRangeMessage(std::int32_t control, std::uint64_t count) {
        std::ostringstream text;
        text.imbue(std::locale::classic());  // no digit grouping, whatever the host chose
        text << "Control input signal value is equal to " << control << ".  There "
             << (count > 1 ? "are " : "is ") << count << (count > 1 ? " inputs" : " input")
             << " connected.  The valid control input range is [0,"
             << static_cast<std::int64_t>(count) - 1 << "].";
        return text.str();
    }

private:
    static void Declare(Buffer& port, std::uint64_t size) {
        port.Rate = size;
        port.MinCapacity = std::max(port.MinCapacity, size);
    }
};

}  // namespace CorvanaModelBuilder
