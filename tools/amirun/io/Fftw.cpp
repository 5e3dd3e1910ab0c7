#include "tools/amirun/io/Fftw.h"

namespace amirun {

std::mutex& FftwPlanner() {
    static std::mutex planner;
    return planner;
}

}  // namespace amirun
