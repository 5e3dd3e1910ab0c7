#pragma once

#include <mutex>

namespace amirun {

// FFTW's planner is not thread-safe (sweeps transform on several threads): every plan is made
// and destroyed under this lock; executing a plan needs none.
std::mutex& FftwPlanner();

}  // namespace amirun
