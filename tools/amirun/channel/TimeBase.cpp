#include "tools/amirun/channel/TimeBase.h"

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <sstream>

#include "tools/amirun/io/Limits.h"

namespace amirun {
namespace {

constexpr int kChosenMinimum = 16;

bool Whole(double perBit) { return std::fabs(perBit - std::round(perBit)) <= 1e-9 * perBit; }

std::string Seconds(double value) {
    std::ostringstream text;
    text << std::setprecision(10) << value << " s";
    return text.str();
}

}  // namespace

TimeBase ChooseTimeBase(double bitRate, double modelDt, double userDt) {
    const double ui = 1.0 / bitRate;
    const double given = userDt > 0.0 ? userDt : modelDt;
    const double perBit = ui / given;
    std::ostringstream why;
    why << std::setprecision(6) << "a unit interval of " << Seconds(ui) << " holds " << perBit
        << " sample intervals of " << Seconds(given) << "; ";
    if (perBit > kMaxSamplesPerBit + 0.5)
        throw TimeBaseError(why.str() + "amirun needs 2 to 4096 (a --sample-interval of " +
                            Seconds(ui / kMaxSamplesPerBit) + " or more would work)");
    TimeBase base;
    if (Whole(perBit) && perBit >= kMinSamplesPerBit - 1e-9) {
        base.samplesPerBit = int(std::lround(perBit));
        base.dt = given;
    } else if (userDt > 0.0) {
        const long nearest =
            std::clamp<long>(std::lround(perBit), kMinSamplesPerBit, kMaxSamplesPerBit);
        throw TimeBaseError(why.str() + "not a whole number from 2 to 4096; --sample-interval " +
                            Seconds(ui / double(nearest)) + " (" + std::to_string(nearest) +
                            " samples per unit interval) would work");
    } else {
        base.samplesPerBit =
            int(std::clamp<long>(std::max<long>(std::lround(perBit), kChosenMinimum),
                                 kMinSamplesPerBit, kMaxSamplesPerBit));
        base.dt = ui / base.samplesPerBit;
        base.changed = true;
        std::ostringstream note;
        note << std::setprecision(10) << "time base: " << why.str() << "amirun runs at "
             << base.samplesPerBit << " samples per unit interval, an interval of "
             << Seconds(base.dt) << " (" << 1.0 / base.dt << " samples/s)";
        base.note = note.str();
    }
    base.bitRate = 1.0 / (base.samplesPerBit * base.dt);
    return base;
}

void AddTimeBase(JsonObject& json, const TimeBase& base) {
    json.Number("bit_rate", base.bitRate)
        .Number("sample_interval", base.dt)
        .Number("samples_per_ui", base.samplesPerBit);
}

}  // namespace amirun
