#include "modelbuilder/TimeResponseFIR.h"

#include <algorithm>
#include <cmath>
#include <fstream>
#include <locale>
#include <memory>
#include <sstream>
#include <string>

namespace CorvanaModelBuilder {
namespace {

// Four-point cubic spline with the end conditions of Forsythe, Malcolm and Moler (the third
// derivative at each end from the cubic through the four points). The operations and their
// order are fixed: taps must come out identical to the last bit. Fitting a window once and
// evaluating it for every tap that falls in it does the same operations as fitting it per tap.
struct SplineWindow {
    double x[4], y[4], bc[4], cc[4], dc[4];
};

SplineWindow FitSpline(const double* x, const double* y) {
    SplineWindow w;
    double h[3], b[4], c[4];
    for (int i = 0; i < 4; ++i) {
        w.x[i] = x[i];
        w.y[i] = y[i];
    }
    for (int i = 0; i < 3; ++i) h[i] = x[i + 1] - x[i];
    b[1] = 2.0 * (h[0] + h[1]);
    b[2] = 2.0 * (h[1] + h[2]);
    const double s0 = (y[1] - y[0]) / h[0];
    const double s1 = (y[2] - y[1]) / h[1];
    const double s2 = (y[3] - y[2]) / h[2];
    c[1] = s1 - s0;
    c[2] = s2 - s1;
    b[0] = -h[0];
    b[3] = -h[2];
    const double third = c[2] / (x[3] - x[1]) - c[1] / (x[2] - x[0]);
    c[0] = third * (h[0] * h[0]) / (x[3] - x[0]);
    c[3] = -third * (h[2] * h[2]) / (x[3] - x[0]);
    for (int i = 1; i <= 3; ++i) {
        const double f = h[i - 1] / b[i - 1];
        b[i] = b[i] - f * h[i - 1];
        c[i] = c[i] - f * c[i - 1];
    }
    c[3] = c[3] / b[3];
    for (int i = 2; i >= 0; --i) c[i] = (c[i] - h[i] * c[i + 1]) / b[i];
    for (int i = 0; i < 3; ++i) {
        w.bc[i] = (y[i + 1] - y[i]) / h[i] - h[i] * (c[i + 1] + 2.0 * c[i]);
        w.dc[i] = (c[i + 1] - c[i]) / h[i];
        w.cc[i] = 3.0 * c[i];
    }
    w.bc[3] = (y[3] - y[2]) / h[2] + h[2] * (c[2] + 2.0 * c[3]);
    w.cc[3] = 3.0 * c[3];
    w.dc[3] = w.dc[2];
    return w;
}

double EvaluateSpline(const SplineWindow& w, double u) {
    const double* x = w.x;
    int i = 0;
    if (!(x[0] <= u && u <= x[1])) {
        int lo = 0;
        int hi = 4;
        do {
            const int mid = (lo + hi) / 2;
            if (x[mid] > u) hi = mid;
            if (u >= x[mid]) lo = mid;
        } while (hi > lo + 1);
        i = lo;
    }
    const double d = u - x[i];
    double value = w.bc[i] * d + w.y[i];
    value = value + w.cc[i] * d * d;
    value = value + w.dc[i] * d * d * d;
    return value;
}

bool IsImpulseType(std::int32_t type) {
    return type == TimeResponseFIR::ImpulseResponse || type == TimeResponseFIR::ImpulseResponseFile;
}

// Reads pairs while the stream stays good after the second number of a pair.
template <class Sink>
std::size_t ReadPairs(std::istream& in, Sink sink) {
    std::size_t pairs = 0;
    double time = 0.0;
    double value = 0.0;
    // good(), not just !fail(): a number that ends at the end of the file sets eof.
    while (in >> time >> value, in.good()) {
        sink(time, value);
        ++pairs;
    }
    return pairs;
}

}  // namespace

TimeResponseFIR::~TimeResponseFIR() { delete[] Taps; }

bool TimeResponseFIR::ReadResponseFile(const char* fileName, std::vector<double>& timeStamps,
                                       std::vector<double>& values) {
    std::ifstream file;
    if (fileName != nullptr) file.open(fileName);
    if (!file.is_open()) {
        ReportError("Failed to open response file.");
        return false;
    }
    file.imbue(std::locale::classic());  // a decimal point, whatever the host's locale says
    const std::size_t firstPass = ReadPairs(file, [](double, double) {});
    timeStamps.clear();
    values.clear();
    timeStamps.reserve(firstPass);
    values.reserve(firstPass);
    file.clear();
    file.seekg(0);
    const std::size_t secondPass = ReadPairs(file, [&](double time, double value) {
        timeStamps.push_back(time);
        values.push_back(value);
    });
    // The file changed between the passes, or could not be read back.
    if (secondPass != firstPass || file.bad()) {
        ReportError("Failed to read response file.");
        return false;
    }
    return true;
}

// The stages run in this order, and the first that fails ends Setup with its own message.
bool TimeResponseFIR::Setup() {
    Response response;
    if (!ChooseSource(response) || !CheckResponse(response) || !RebaseTimeStamps(response))
        return false;
    std::int32_t numTaps = 0;
    if (!CountTaps(response, numTaps)) return false;
    std::unique_ptr<double[]> taps = Resample(response, numTaps);
    ToTaps(taps.get(), numTaps);
    delete[] Taps;
    Taps = taps.release();
    NumTaps = numTaps;
    return FIR<double, 0>::Setup();
}

// The lent arrays, or the pairs read from the response file; a null array counts as empty.
bool TimeResponseFIR::ChooseSource(Response& response) {
    response.times = ResponseTimeStamps;
    response.values = ResponseCoefficients;
    response.numTimes = response.times != nullptr ? NumResponseTimeStamps : 0;
    response.numValues = response.values != nullptr ? NumResponseCoefficients : 0;
    if (ResponseType != ImpulseResponseFile) return true;
    if (!ReadResponseFile(ResponseFile, response.fileTimes, response.fileValues)) return false;
    response.times = response.fileTimes.data();
    response.values = response.fileValues.data();
    response.numTimes = static_cast<std::int64_t>(response.fileTimes.size());
    response.numValues = static_cast<std::int64_t>(response.fileValues.size());
    return true;
}

bool TimeResponseFIR::CheckResponse(const Response& response) {
    if (response.numValues < 4) {
        ReportError(IsImpulseType(ResponseType)
                        ? "At least 4 response coefficients are required for input impulse response"
                        : "At least 4 response coefficients are required for input step response");
        return false;
    }
    if (static_cast<std::uint32_t>(ResponseType) > 3) {
        ReportError(
            "Inavlid ResponseType is specified, it can only be Impulse Response, Step Response, "
            "Impulse Response File or Step Response File");
        return false;
    }
    if (response.numTimes != response.numValues) {
        ReportError(
            "Number of coefficients in response must be same as the number of values in "
            "time stamps");
        return false;
    }
    if (SampleRate <= 0.0) {
        ReportError("SampleRate must be > 0.0");
        return false;
    }
    if (!std::isfinite(SampleRate)) {
        ReportError("SampleRate must be a finite number");
        return false;
    }
    return true;
}

// Shifts the stamps in place so that the first is zero, and requires them strictly ascending.
bool TimeResponseFIR::RebaseTimeStamps(Response& response) {
    double* times = response.times;
    const double t0 = times[0];
    times[0] = 0.0;
    for (std::int64_t i = 1; i < response.numTimes; ++i) {
        times[i] -= t0;
        if (!(times[i - 1] < times[i])) {
            std::ostringstream text;
            text.imbue(std::locale::classic());
            text << "ResponseTimeStamps[" << i + 1 << "] = " << t0 + times[i]
                 << "  <= ResponseTimeStamps[" << i << "] = " << t0 + times[i - 1]
                 << ". Time stamps must be in non-repeating ascending order.";
            ReportError(text.str().c_str());
            return false;
        }
    }
    return true;
}

// One tap per sample period up to the last stamp. The count must fit NumTaps; it is checked in
// double so that no conversion is undefined.
bool TimeResponseFIR::CountTaps(const Response& response, std::int32_t& numTaps) {
    const double span = response.times[response.numTimes - 1] * SampleRate;
    if (!(span < 2147483647.0)) {
        ReportError("The response is too long for SampleRate: more than 2147483647 taps");
        return false;
    }
    numTaps = static_cast<std::int32_t>(span) + 1;
    return true;
}

// The response at k / SampleRate for every tap k: an impulse value where a stamp falls exactly on
// the grid, else the four-point cubic through the nearest stamps.
std::unique_ptr<double[]> TimeResponseFIR::Resample(const Response& response,
                                                    std::int32_t numTaps) const {
    std::unique_ptr<double[]> taps(new double[static_cast<std::size_t>(numTaps)]);
    const double* times = response.times;
    const double* values = response.values;
    const std::int64_t last = response.numTimes - 1;
    std::int64_t j = 0;
    std::int64_t fitted = -1;  // the first stamp of the window fitted last
    SplineWindow window{};
    for (std::int32_t k = 0; k < numTaps; ++k) {
        const double t = static_cast<double>(k) / SampleRate;
        while (j < last && times[j] < t) ++j;  // t only grows: resume where the last tap stopped
        if (ResponseType == ImpulseResponse && times[j] == t) {
            taps[k] = values[j];
            continue;
        }
        const std::int64_t first =
            std::min(std::max<std::int64_t>(j, 1), response.numTimes - 3) - 1;
        if (first != fitted) {
            window = FitSpline(times + first, values + first);
            fitted = first;
        }
        taps[k] = EvaluateSpline(window, t);
    }
    return taps;
}

// A step response becomes taps by differencing, an impulse response by scaling with the period.
void TimeResponseFIR::ToTaps(double* taps, std::int32_t numTaps) const {
    if (IsImpulseType(ResponseType)) {
        for (std::int32_t k = 0; k < numTaps; ++k) taps[k] = taps[k] / SampleRate;
    } else {
        for (std::int32_t k = numTaps - 1; k >= 1; --k) taps[k] = taps[k] - taps[k - 1];
    }
}

}  // namespace CorvanaModelBuilder
