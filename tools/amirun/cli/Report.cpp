#include "tools/amirun/cli/Report.h"

#include <iomanip>
#include <iostream>
#include <sstream>

namespace amirun {

std::string EyeText(const Eye& eye, double unitInterval) {
    if (!(eye.height > 0.0)) return "closed";
    std::ostringstream text;
    text << std::fixed << std::setprecision(4) << "height " << eye.height << " V, width "
         << std::setprecision(3) << eye.width << " UI (" << std::setprecision(1)
         << eye.width * unitInterval * 1e12 << " ps)";
    return text.str();
}

JsonObject EyeJson(const Eye& eye, double unitInterval) {
    JsonObject json;
    json.Number("height_v", eye.height)
        .Number("width_ui", eye.width)
        .Number("width_ps", eye.width * unitInterval * 1e12)
        .Text("state", eye.height > 0.0 ? "open" : "closed");
    return json;
}

std::string StatisticalEyeText(const StatisticalEye& eye, double swing, double ber) {
    std::ostringstream text;
    text << std::fixed << std::setprecision(4);
    if (eye.height > 0.0)
        text << "height " << eye.height * swing << " V, width " << std::setprecision(3) << eye.width
             << " UI";
    else
        text << "closed";
    text << std::defaultfloat << " at BER " << ber;
    return text.str();
}

}  // namespace amirun
