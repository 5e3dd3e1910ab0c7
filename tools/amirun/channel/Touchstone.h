#pragma once

#include <complex>
#include <cstddef>
#include <string>
#include <vector>

namespace amirun {

using Complex = std::complex<double>;

// S-parameters of an n-port as read from a Touchstone 1.0 or 2.0 file: every point's full
// matrix (Lower and Upper files are filled symmetrically), in RI form, frequencies in Hz.
struct Touchstone {
    int ports = 0;
    std::vector<double> frequencies;
    std::vector<std::vector<Complex>> s;  // [point][row * ports + column], 0-based
    std::vector<double> reference;        // ohms per port, as the file gives them

    Complex At(std::size_t point, int row, int column) const {
        return s[point][std::size_t(row) * std::size_t(ports) + std::size_t(column)];
    }
};

// Reads the text of a Touchstone file. `portsOfName` is what the file name promises (.s4p: 4),
// or 0 when the file is 2.0 and says it itself. Refuses, with the line and the reason, anything
// it cannot read exactly: unknown units or parameters, Y/Z/H/G data, mixed-mode files, counts
// that disagree, frequencies that are negative or do not ascend.
Touchstone ParseTouchstone(const std::string& text, int portsOfName);

// The same network seen from `ohms` at every port (real reference impedances). Throws
// ChannelError when the network has no impedance matrix at some point (an ideal open).
void Renormalize(Touchstone& data, double ohms);

// The largest |S| of any entry and the frequency where it occurs.
struct LargestS {
    double magnitude = 0.0;
    double frequency = 0.0;
};
LargestS LargestMagnitude(const Touchstone& data);

}  // namespace amirun
