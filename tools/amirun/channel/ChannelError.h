#pragma once

#include <stdexcept>

namespace amirun {

// A channel file or channel option that amirun cannot read truthfully; the text names the file,
// the line where it applies and the reason.
struct ChannelError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace amirun
