// Every buffer, timed buffer and bus of the runtime's element types is built here once, so that
// each of them compiles whether or not a model uses it.
#include <complex>

#include "modelbuilder/CircularBuffer.h"
#include "modelbuilder/CircularBufferBus.h"
#include "modelbuilder/Matrix.h"

namespace CorvanaModelBuilder {

template class CircularBuffer<double>;
template class TimedCircularBuffer<double>;
template class CircularBufferBusT<CircularBuffer<double>>;
template class CircularBufferBusT<TimedCircularBuffer<double>>;
template class CircularBuffer<int>;
template class TimedCircularBuffer<int>;
template class CircularBufferBusT<CircularBuffer<int>>;
template class CircularBufferBusT<TimedCircularBuffer<int>>;
template class CircularBuffer<std::complex<double>>;
template class TimedCircularBuffer<std::complex<double>>;
template class CircularBufferBusT<CircularBuffer<std::complex<double>>>;
template class CircularBufferBusT<TimedCircularBuffer<std::complex<double>>>;
template class CircularBuffer<float>;
template class TimedCircularBuffer<float>;
template class CircularBufferBusT<CircularBuffer<float>>;
template class CircularBufferBusT<TimedCircularBuffer<float>>;
template class CircularBuffer<bool>;
template class TimedCircularBuffer<bool>;
template class CircularBufferBusT<CircularBuffer<bool>>;
template class CircularBufferBusT<TimedCircularBuffer<bool>>;
template class CircularBuffer<std::complex<float>>;
template class TimedCircularBuffer<std::complex<float>>;
template class CircularBufferBusT<CircularBuffer<std::complex<float>>>;
template class CircularBufferBusT<TimedCircularBuffer<std::complex<float>>>;
template class CircularBuffer<EnvelopeSignal>;
template class TimedCircularBuffer<EnvelopeSignal>;
template class CircularBufferBusT<CircularBuffer<EnvelopeSignal>>;
template class CircularBufferBusT<TimedCircularBuffer<EnvelopeSignal>>;
template class CircularBuffer<Matrix<bool>>;
template class TimedCircularBuffer<Matrix<bool>>;
template class CircularBufferBusT<CircularBuffer<Matrix<bool>>>;
template class CircularBufferBusT<TimedCircularBuffer<Matrix<bool>>>;
template class CircularBuffer<Matrix<int>>;
template class TimedCircularBuffer<Matrix<int>>;
template class CircularBufferBusT<CircularBuffer<Matrix<int>>>;
template class CircularBufferBusT<TimedCircularBuffer<Matrix<int>>>;
template class CircularBuffer<Matrix<float>>;
template class TimedCircularBuffer<Matrix<float>>;
template class CircularBufferBusT<CircularBuffer<Matrix<float>>>;
template class CircularBufferBusT<TimedCircularBuffer<Matrix<float>>>;
template class CircularBuffer<Matrix<double>>;
template class TimedCircularBuffer<Matrix<double>>;
template class CircularBufferBusT<CircularBuffer<Matrix<double>>>;
template class CircularBufferBusT<TimedCircularBuffer<Matrix<double>>>;
template class CircularBuffer<Matrix<std::complex<float>>>;
template class TimedCircularBuffer<Matrix<std::complex<float>>>;
template class CircularBufferBusT<CircularBuffer<Matrix<std::complex<float>>>>;
template class CircularBufferBusT<TimedCircularBuffer<Matrix<std::complex<float>>>>;
template class CircularBuffer<Matrix<std::complex<double>>>;
template class TimedCircularBuffer<Matrix<std::complex<double>>>;
template class CircularBufferBusT<CircularBuffer<Matrix<std::complex<double>>>>;
template class CircularBufferBusT<TimedCircularBuffer<Matrix<std::complex<double>>>>;

}  // namespace CorvanaModelBuilder
