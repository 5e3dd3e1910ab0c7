#pragma once

#include <cstdint>
#include <vector>

#include "modelbuilder/CircularBuffer.h"

namespace CorvanaModelBuilder {

// Points a port at caller-owned storage, as an owner does when it connects two ports.
template <class T>
void Attach(CircularBuffer<T>& port, std::vector<T>& storage) {
    port.Data = storage.data();
    port.Capacity = storage.size();
    port.Position = 0;
}

// Fires a rate-changing block over x: each firing gets the next Input.Rate samples and yields
// Output.Rate samples. Samples that do not fill a whole firing are not fed.
template <class Block, class T>
std::vector<T> Drive(Block& block, const std::vector<T>& x) {
    std::vector<T> in(block.Input.Rate);
    std::vector<T> out(block.Output.Rate);
    Attach(block.Input, in);
    Attach(block.Output, out);
    std::vector<T> y;
    for (std::size_t start = 0; start + in.size() <= x.size(); start += in.size()) {
        for (std::size_t k = 0; k < in.size(); ++k) in[k] = x[start + k];
        block.Run();
        y.insert(y.end(), out.begin(), out.end());
    }
    return y;
}

}  // namespace CorvanaModelBuilder
