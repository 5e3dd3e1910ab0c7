#pragma once

#include <string>

#include "tools/amirun/channel/ChannelReport.h"
#include "tools/amirun/channel/TimeBase.h"
#include "tools/amirun/io/Json.h"
#include "tools/amirun/link/Signal.h"
#include "tools/amirun/link/StatEye.h"

namespace amirun {

// What a run says about itself, for people on standard output and for scripts in its JSON.

// An eye for people ("height 0.1234 V, width 0.500 UI (15.6 ps)" or "closed") and for scripts.
std::string EyeText(const Eye& eye, double unitInterval);
JsonObject EyeJson(const Eye& eye, double unitInterval);
// A statistical eye for a 1 V swing, scaled to `swing`: "height ... V, width ... UI at BER ...".
std::string StatisticalEyeText(const StatisticalEye& eye, double swing, double ber);

}  // namespace amirun
