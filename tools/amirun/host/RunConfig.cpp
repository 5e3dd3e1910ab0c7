#include "tools/amirun/host/RunConfig.h"

#include <map>
#include <sstream>

namespace amirun {

std::vector<int> ParsePorts(const std::string& text) {
    std::vector<int> ports;
    std::istringstream in(text);
    for (std::string field; std::getline(in, field, ',');) {
        const bool digits = !field.empty() && field.size() <= 4 &&
                            field.find_first_not_of("0123456789") == std::string::npos;
        if (!digits)
            throw ChannelError("--ports takes port numbers separated by commas, not '" + text +
                               "'");
        ports.push_back(std::stoi(field));
    }
    if (ports.empty() || text.back() == ',')
        throw ChannelError("--ports takes port numbers separated by commas, not '" + text + "'");
    return ports;
}

ChannelOptions ToChannelOptions(const ChannelCli& channel, double dt, int samplesPerBit,
                                double bitRate, bool chosenInterval) {
    static const std::map<std::string, ChannelFormat> formats{
        {"auto", ChannelFormat::Auto},
        {"values", ChannelFormat::Values},
        {"time", ChannelFormat::Time},
        {"touchstone", ChannelFormat::Touchstone}};
    ChannelOptions options;
    options.format = formats.at(channel.format);
    options.step = channel.step;
    if (!channel.ports.empty()) options.ports = ParsePorts(channel.ports);
    options.dt = dt;
    options.samplesPerBit = samplesPerBit;
    options.bitRate = bitRate;
    options.windowBits = channel.windowBits;
    options.extrapolate = channel.extrapolate;
    options.chosenInterval = chosenInterval;
    return options;
}

}  // namespace amirun
