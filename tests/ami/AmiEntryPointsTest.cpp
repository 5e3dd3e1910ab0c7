// Loads both built libraries with dlopen, side by side, and drives them as a host does.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <limits>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "ami/AmiExport.h"
#include "models/ModelGraph.h"
#include "models/rx/KT7MRL40562D9_Rx.h"
#include "models/tx/KT7MRL40562D9_Tx.h"
#include "tests/support/RunModel.h"
#include "tests/support/StderrCapture.h"

namespace {

using InitFn = AmiInitFn;
using GetWaveFn = AmiGetWaveFn;
using CloseFn = AmiCloseFn;

struct Library {
    explicit Library(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        if (handle == nullptr) return;
        init = reinterpret_cast<InitFn>(dlsym(handle, "AMI_Init"));
        getWave = reinterpret_cast<GetWaveFn>(dlsym(handle, "AMI_GetWave"));
        close = reinterpret_cast<CloseFn>(dlsym(handle, "AMI_Close"));
    }
    ~Library() {
        if (handle != nullptr) dlclose(handle);
    }
    void* handle;
    InitFn init = nullptr;
    GetWaveFn getWave = nullptr;
    CloseFn close = nullptr;
};

const char kRxWarnRate[] =
    "The IBIS-AMI model, KT7MRL40562D9_Rx, is unable to initialize the parameter rx_samplerate "
    "from the AMI_Init arguments.  The model will use the default setting. ";
const char kRxWarnEq[] =
    "The IBIS-AMI model, KT7MRL40562D9_Rx, is unable to initialize the parameter EQ from the "
    "AMI_Init arguments.  The model will use the default setting. ";
const char kTxWarnRate[] =
    "The IBIS-AMI model, KT7MRL40562D9_Tx, is unable to initialize the parameter tx_samplerate "
    "from the AMI_Init arguments.  The model will use the default setting. ";
const char kTxWarnFg[] =
    "The IBIS-AMI model, KT7MRL40562D9_Tx, is unable to initialize the parameter FG from the "
    "AMI_Init arguments.  The model will use the default setting. ";
const char kTxWarnSw[] =
    "The IBIS-AMI model, KT7MRL40562D9_Tx, is unable to initialize the parameter SW from the "
    "AMI_Init arguments.  The model will use the default setting. ";

char* Text(const char* text) { return const_cast<char*>(text); }

class AmiLibraries : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        rx_ = new Library(KT_RX_LIBRARY);
        tx_ = new Library(KT_TX_LIBRARY);
    }
    static void TearDownTestSuite() {
        delete rx_;
        delete tx_;
    }
    void SetUp() override {
        ASSERT_NE(nullptr, rx_->handle) << dlerror();
        ASSERT_NE(nullptr, tx_->handle) << dlerror();
    }

    // A receiver AMI_Init with the given parameters; the handle is closed again. No sample
    // interval is passed (0), so the log holds no time-base sentence.
    long RxInit(std::vector<double>& matrix, long rows, long aggressors, const char* parameters,
                std::string* message = nullptr, double sampleInterval = 0.0) {
        void* handle = nullptr;
        char* msg = Text("untouched");
        const long result = rx_->init(matrix.data(), rows, aggressors, sampleInterval, 1e-10,
                                      Text(parameters), nullptr, &handle, &msg);
        EXPECT_NE(nullptr, handle);
        if (message != nullptr) *message = msg;
        EXPECT_EQ(1, rx_->close(handle));
        return result;
    }

    static Library* rx_;
    static Library* tx_;
};
Library* AmiLibraries::rx_ = nullptr;
Library* AmiLibraries::tx_ = nullptr;

std::vector<double> Pulse(size_t n, size_t seed) {
    std::vector<double> x(n, 0.0);
    for (size_t i = 0; i < n; ++i) x[i] = std::exp(-double(i) / 40.0) * std::sin(double(i + seed));
    return x;
}

TEST_F(AmiLibraries, ExportOnlyTheEntryPoints) {
    EXPECT_EQ(nullptr, rx_->getWave);
    EXPECT_NE(nullptr, rx_->init);
    EXPECT_NE(nullptr, tx_->getWave);
    for (const auto& [path, expected] :
         {std::pair<std::string, std::set<std::string>>{KT_RX_LIBRARY, {"AMI_Close", "AMI_Init"}},
          {KT_TX_LIBRARY, {"AMI_Close", "AMI_GetWave", "AMI_Init"}}}) {
        const std::string command = "nm -D --defined-only '" + path + "'";
        FILE* pipe = popen(command.c_str(), "r");
        ASSERT_NE(nullptr, pipe);
        std::set<std::string> names;
        std::array<char, 512> line{};
        while (fgets(line.data(), line.size(), pipe) != nullptr) {
            std::string text(line.data());
            const size_t space = text.find_last_of(' ');
            names.insert(text.substr(space + 1, text.find_last_not_of("\n") - space));
        }
        EXPECT_EQ(0, pclose(pipe));
        EXPECT_EQ(expected, names) << path;
    }
}

TEST_F(AmiLibraries, ReceiverFiltersEveryColumnFromAFreshState) {
    const long rows = 700;
    std::vector<double> matrix;
    for (size_t c = 0; c < 3; ++c) {
        const auto column = Pulse(rows, c);
        matrix.insert(matrix.end(), column.begin(), column.end());
    }
    const std::vector<double> input = matrix;
    std::string message;
    EXPECT_EQ(
        1, RxInit(matrix, rows, 2, "(KT7MRL40562D9_Rx (rx_samplerate 2.5e11) (EQ 6))", &message));
    EXPECT_EQ("untouched", message);  // an empty log leaves msg alone
    for (size_t c = 0; c < 3; ++c) {
        KT7MRL40562D9_Rx reference;
        reference.rx_samplerate = 2.5e11;
        reference.EQ = 6;
        const std::vector<double> column(input.begin() + long(c) * rows,
                                         input.begin() + long(c + 1) * rows);
        EXPECT_EQ(Cycle(reference, column),
                  std::vector<double>(matrix.begin() + long(c) * rows,
                                      matrix.begin() + long(c + 1) * rows))
            << "column " << c;
    }
}

TEST_F(AmiLibraries, ReceiverWarnsForEachUnreadableParameter) {
    const struct {
        const char* parameters;
        std::string log;
    } cases[] = {
        {"(Other (rx_samplerate 2.5e11) (EQ 6))", std::string(kRxWarnRate) + kRxWarnEq},
        {"(KT7MRL40562D9_Rx (EQ \"6\"))", std::string(kRxWarnRate) + kRxWarnEq},
        {"(KT7MRL40562D9_Rx (rx_samplerate True) (EQ 6))", kRxWarnRate},
        {"not a tree", std::string(kRxWarnRate) + kRxWarnEq},
        {nullptr, std::string(kRxWarnRate) + kRxWarnEq},
    };
    for (const auto& c : cases) {
        std::vector<double> matrix = Pulse(50, 1);
        std::string message;
        EXPECT_EQ(1, RxInit(matrix, 50, 0, c.parameters, &message));
        EXPECT_EQ(c.log, message) << (c.parameters ? c.parameters : "null");
    }
}

TEST_F(AmiLibraries, ReceiverLifecycleFailuresAreLoggedAndReturnZero) {
    std::vector<double> matrix = Pulse(20, 2);
    const std::vector<double> input = matrix;
    std::string message;
    {
        StderrFdCapture capture;
        EXPECT_EQ(0,
                  RxInit(matrix, 10, 1, "(KT7MRL40562D9_Rx (rx_samplerate 0) (EQ 3))", &message));
        EXPECT_EQ(std::vector<std::string>(16, "SampleRate must be > 0.0"), capture.Lines());
    }
    EXPECT_EQ("Error occurred in KT7MRL40562D9_Rx::Setup(). ", message);
    EXPECT_EQ(input, matrix);
    {
        StderrFdCapture capture;
        EXPECT_EQ(
            0, RxInit(matrix, 10, 1, "(KT7MRL40562D9_Rx (rx_samplerate 1e11) (EQ 16))", &message));
        // One Run, then no further column.
        EXPECT_EQ(std::vector<std::string>{"Control input signal value is equal to 16.  There are "
                                           "16 inputs connected.  The valid control input range "
                                           "is [0,15]."},
                  capture.Lines());
    }
    EXPECT_EQ("Error occurred in KT7MRL40562D9_Rx::Run(). ", message);
    EXPECT_EQ(input, matrix);
}

TEST_F(AmiLibraries, ReceiverWithNothingToProcessTouchesNothing) {
    std::vector<double> matrix = Pulse(30, 3);
    const std::vector<double> input = matrix;
    const char* parameters = "(KT7MRL40562D9_Rx (rx_samplerate 3e11) (EQ 2))";
    EXPECT_EQ(1, RxInit(matrix, 30, -1, parameters));
    EXPECT_EQ(1, RxInit(matrix, 0, 0, parameters));
    EXPECT_EQ(1, RxInit(matrix, -4, 2, parameters));
    EXPECT_EQ(input, matrix);

    void* handle = nullptr;
    char* msg = nullptr;
    EXPECT_EQ(
        0, rx_->init(nullptr, 30, 0, 1.0 / 3e11, 1e-10, Text(parameters), nullptr, &handle, &msg));
    ASSERT_NE(nullptr, msg);
    EXPECT_STREQ("The IBIS-AMI model, KT7MRL40562D9_Rx, received no impulse matrix to process. ",
                 msg);
    EXPECT_EQ(1, rx_->close(handle));
    EXPECT_EQ(1, rx_->close(nullptr));

    // No column pointer is formed for empty columns, so this is no undefined behaviour even in
    // the sanitizer build.
    msg = nullptr;
    EXPECT_EQ(
        1, rx_->init(nullptr, -1, 1, 1.0 / 3e11, 1e-10, Text(parameters), nullptr, &handle, &msg));
    EXPECT_EQ(nullptr, msg);
    EXPECT_EQ(1, rx_->close(handle));
}

TEST_F(AmiLibraries, NullHandleOrMessagePointersAreNeverWritten) {
    std::vector<double> matrix = Pulse(30, 4);
    EXPECT_EQ(0, rx_->init(matrix.data(), 30, 0, 1e-12, 1e-10, nullptr, nullptr, nullptr, nullptr));
    EXPECT_NE(Pulse(30, 4), matrix);  // the work was done, only the handle had no place
    EXPECT_EQ(0, tx_->init(nullptr, 0, 0, 1e-12, 1e-10, Text("(KT7MRL40562D9_Tx (FG 1))"), nullptr,
                           nullptr, nullptr));
    void* handle = nullptr;
    EXPECT_EQ(1, tx_->init(nullptr, 0, 0, 1e-12, 1e-10, nullptr, nullptr, &handle, nullptr));
    EXPECT_EQ(1, tx_->close(handle));
}

// A transmitter instance for one test; closed at the end.
struct Tx {
    Tx(Library& library, const char* parameters, double bitTime = 32e-12,
       double sampleInterval = 1.0 / 3.84e11)
        : lib(library) {
        result = lib.init(nullptr, 0, 0, sampleInterval, bitTime, Text(parameters), nullptr,
                          &handle, &msg);
    }
    ~Tx() { EXPECT_EQ(1, lib.close(handle)); }
    long Wave(std::vector<double>& wave, size_t from, size_t count, double* clock) {
        return lib.getWave(wave.data() + from, long(count), clock, nullptr, handle);
    }
    Library& lib;
    void* handle = nullptr;
    char* msg = Text("untouched");
    long result = -1;
};

std::vector<double> Nrz(size_t n) {
    std::vector<double> x(n);
    unsigned state = 0x5a;
    for (size_t i = 0; i < n; ++i) {
        if (i % 12 == 0) state = (state >> 1) ^ (-(state & 1u) & 0xb8u);
        x[i] = (state & 1u) ? 0.04 : -0.04;
    }
    return x;
}

TEST_F(AmiLibraries, TransmitterOutputDoesNotDependOnHowTheWaveIsSplit) {
    const char* parameters = "(KT7MRL40562D9_Tx (tx_samplerate 3.84e11) (FG 3) (SW 0))";
    const std::vector<double> input = Nrz(3000);
    std::vector<double> whole = input;
    double clock[2] = {7.0, 7.0};
    {
        Tx tx(*tx_, parameters);
        ASSERT_EQ(1, tx.result);
        EXPECT_STREQ("untouched", tx.msg);
        ASSERT_EQ(1, tx.Wave(whole, 0, whole.size(), clock));
        EXPECT_EQ(-1.0, clock[0]);
        EXPECT_EQ(7.0, clock[1]);
    }
    KT7MRL40562D9_Tx reference;
    reference.FG = 3;
    reference.SW = 0;
    EXPECT_EQ(Cycle(reference, input), whole);

    for (size_t block : {1u, 7u, 1024u, 2999u}) {
        std::vector<double> pieces = input;
        Tx tx(*tx_, parameters);
        for (size_t from = 0; from < pieces.size(); from += block)
            ASSERT_EQ(1, tx.Wave(pieces, from, std::min(block, pieces.size() - from), clock));
        EXPECT_EQ(whole, pieces) << "blocks of " << block;
    }
}

TEST_F(AmiLibraries, TransmitterWarnsAndKeepsItsDefaults) {
    std::vector<double> wave = Nrz(400);
    std::vector<double> expected = wave;
    KT7MRL40562D9_Tx reference;
    expected = Cycle(reference, expected);
    Tx tx(*tx_, "(KT7MRL40562D9_Tx (Other 1))");
    EXPECT_EQ(1, tx.result);
    EXPECT_EQ(std::string(kTxWarnRate) + kTxWarnFg + kTxWarnSw, tx.msg);
    double clock = 0.0;
    EXPECT_EQ(1, tx.Wave(wave, 0, wave.size(), &clock));
    EXPECT_EQ(expected, wave);
}

TEST_F(AmiLibraries, TransmitterWritesOnlyTheFirstClockEntry) {
    const struct {
        double bitTime;
        long size;
        bool written;
    } cases[] = {
        {32.0, 0, false},
        {32.0, 1, true},
        {32.0, 500, true},
        {0.1, 500, false},  // zero samples per bit: the quotient is infinite
        {-1.5, 50, true},   // -1 sample per bit: bound -50 + 101
        {-1.5, 200, false},
        {std::nan(""), 200, true},  // INT32_MIN samples per bit: bound 100
        {std::numeric_limits<double>::infinity(), 200, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bitTime) + " " + std::to_string(c.size));
        Tx tx(*tx_, "(KT7MRL40562D9_Tx (FG 1) (SW 1) (tx_samplerate 3.84e11))", c.bitTime, 1.0);
        std::vector<double> wave(size_t(c.size) + 1, 0.01);
        std::vector<double> clock(3, 9.0);
        EXPECT_EQ(1, tx.Wave(wave, 0, size_t(c.size), clock.data()));
        EXPECT_EQ(c.written ? -1.0 : 9.0, clock[0]);
        EXPECT_EQ(9.0, clock[1]);
        EXPECT_EQ(9.0, clock[2]);
    }
}

TEST_F(AmiLibraries, TransmitterRefusesUnusableBlocksWithoutWriting) {
    Tx tx(*tx_, "(KT7MRL40562D9_Tx (FG 1) (SW 1) (tx_samplerate 3.84e11))");
    std::vector<double> wave(10, 0.3);
    double clock = 5.0;
    EXPECT_EQ(0, tx.Wave(wave, 0, size_t(-3), &clock));
    EXPECT_EQ(0, tx.lib.getWave(nullptr, 10, &clock, nullptr, tx.handle));
    EXPECT_EQ(0, tx.Wave(wave, 0, 10, nullptr));
    EXPECT_EQ(0, tx.lib.getWave(wave.data(), 10, &clock, nullptr, nullptr));
    EXPECT_EQ(std::vector<double>(10, 0.3), wave);
    EXPECT_EQ(5.0, clock);
}

TEST_F(AmiLibraries, TransmitterAfterAFailedSetupFailsEveryBlockAndKeepsItsMessage) {
    StderrFdCapture capture;
    Tx tx(*tx_, "(KT7MRL40562D9_Tx (tx_samplerate 0) (FG 1) (SW 1))");
    EXPECT_EQ(0, tx.result);
    const std::string reported = tx.msg;
    EXPECT_EQ("Error occurred in KT7MRL40562D9_Tx::Setup(). ", reported);
    std::vector<double> wave(64, 0.25);
    double clock = 0.0;
    for (int call = 0; call < 50; ++call) EXPECT_EQ(0, tx.Wave(wave, 0, wave.size(), &clock));
    EXPECT_EQ(std::vector<double>(64, 0.25), wave);
    EXPECT_EQ(-1.0, clock);
    EXPECT_EQ(reported, tx.msg);  // still valid and unchanged after the appends
}

TEST_F(AmiLibraries, TransmitterSelectorOutOfRangeFailsTheBlock) {
    StderrFdCapture capture;
    Tx tx(*tx_, "(KT7MRL40562D9_Tx (FG 4) (SW 1) (tx_samplerate 3.84e11))");
    EXPECT_EQ(1, tx.result);
    std::vector<double> wave(8, 0.25);
    double clock = 0.0;
    EXPECT_EQ(0, tx.Wave(wave, 0, wave.size(), &clock));
    EXPECT_EQ(std::vector<double>(8, 0.25), wave);
    EXPECT_EQ(-1.0, clock);
    EXPECT_EQ(2u, capture.Lines().size());
    EXPECT_EQ(1, tx_->close(nullptr));
}

TEST_F(AmiLibraries, InstancesShareNothingInTwoThreadsOrInOne) {
    const std::vector<double> input = Nrz(4000);
    std::vector<double> expected[2];
    for (int sw = 0; sw < 2; ++sw) {
        KT7MRL40562D9_Tx reference;
        reference.SW = sw;
        expected[sw] = Cycle(reference, input);
    }
    std::vector<double> outputs[2] = {input, input};
    // Each thread also equalizes a matrix with the receiver, which shares nothing either.
    std::vector<double> matrices[2] = {Pulse(2000, 1), Pulse(2000, 1)};
    auto drive = [&](int sw) {
        Tx tx(*tx_, sw == 0 ? "(KT7MRL40562D9_Tx (SW 0))" : "(KT7MRL40562D9_Tx (SW 1))");
        double clock = 0.0;
        for (size_t from = 0; from < input.size(); from += 100)
            tx.Wave(outputs[sw], from, 100, &clock);
        void* handle = nullptr;
        rx_->init(matrices[sw].data(), 1000, 1, 0.0, 0.0, nullptr, nullptr, &handle, nullptr);
        rx_->close(handle);
    };
    std::thread first(drive, 0);
    std::thread second(drive, 1);
    first.join();
    second.join();
    EXPECT_EQ(expected[0], outputs[0]);
    EXPECT_EQ(expected[1], outputs[1]);
    EXPECT_NE(Pulse(2000, 1), matrices[0]);
    EXPECT_EQ(matrices[0], matrices[1]);

    // The same two instances interleaved block by block on one thread.
    std::vector<double> interleaved[2] = {input, input};
    Tx zero(*tx_, "(KT7MRL40562D9_Tx (SW 0))");
    Tx one(*tx_, "(KT7MRL40562D9_Tx (SW 1))");
    double clock = 0.0;
    for (size_t from = 0; from < input.size(); from += 100) {
        zero.Wave(interleaved[0], from, 100, &clock);
        one.Wave(interleaved[1], from, 100, &clock);
    }
    EXPECT_EQ(expected[0], interleaved[0]);
    EXPECT_EQ(expected[1], interleaved[1]);
}

// The model filters at its own rate; a simulator at another interval learns so from the log, and
// the outputs and results stay what they were.
TEST_F(AmiLibraries, ASampleIntervalOffTheModelsRateIsReportedAndChangesNothing) {
    for (int samplesPerUi : {8, 12, 16, 32, 64}) {
        SCOPED_TRACE(samplesPerUi);
        const double rate = samplesPerUi * 32e9;
        const std::string parameters =
            "(KT7MRL40562D9_Rx (rx_samplerate " + std::to_string(rate) + ") (EQ 9))";
        std::vector<double> matched = Pulse(600, 5);
        std::vector<double> mismatched = matched;
        std::string message;
        EXPECT_EQ(1, RxInit(matched, 300, 1, parameters.c_str(), &message, 1.0 / rate));
        EXPECT_EQ("untouched", message);  // nothing logged, msg not written
        EXPECT_EQ(1, RxInit(mismatched, 300, 1, parameters.c_str(), &message, 1e-12));
        EXPECT_EQ(matched, mismatched);
        EXPECT_EQ("The IBIS-AMI model, KT7MRL40562D9_Rx, filters at its own rx_samplerate of " +
                      ModelGraph::FormatNumber(rate) +
                      " samples per second, but the simulator's sample_interval is 1e-12 s (1e+12 "
                      "samples per second). Set rx_samplerate to 1/sample_interval. ",
                  message);

        const std::string txParameters =
            "(KT7MRL40562D9_Tx (tx_samplerate " + std::to_string(rate) + ") (FG 1) (SW 0))";
        std::vector<double> waves[2];
        for (double interval : {1.0 / rate, 1.0 / rate * (1 + 1e-5)}) {
            void* handle = nullptr;
            char* msg = nullptr;
            ASSERT_EQ(1, tx_->init(nullptr, 0, 0, interval, 32e-12, Text(txParameters.c_str()),
                                   nullptr, &handle, &msg));
            const bool matches = interval == 1.0 / rate;
            if (matches) {
                EXPECT_EQ(nullptr, msg);
            } else {
                ASSERT_NE(nullptr, msg);
                EXPECT_NE(std::string::npos, std::string(msg).find("Set tx_samplerate to "
                                                                   "1/sample_interval. "));
            }
            std::vector<double>& wave = waves[matches ? 0 : 1];
            wave = Pulse(500, 6);
            double clock = 0.0;
            EXPECT_EQ(1, tx_->getWave(wave.data(), 500, &clock, nullptr, handle));
            EXPECT_EQ(1, tx_->close(handle));
        }
        EXPECT_EQ(waves[0], waves[1]);
    }
}

// A rate above the bound would make each filter huge; Setup refuses it and says why, in the log
// and on stderr, before any filter is built.
TEST_F(AmiLibraries, SampleRatesAboveTheBoundFailSetupWithTheirReason) {
    std::vector<double> matrix = Pulse(40, 7);
    const std::vector<double> input = matrix;
    std::string message;
    StderrFdCapture capture;
    EXPECT_EQ(0, RxInit(matrix, 20, 1, "(KT7MRL40562D9_Rx (rx_samplerate 1e17) (EQ 3))", &message));
    EXPECT_EQ(input, matrix);
    EXPECT_EQ(
        "The IBIS-AMI model, KT7MRL40562D9_Rx, cannot run at rx_samplerate = 1e+17: the "
        "largest supported sample rate is 1e+14 samples per second. Error occurred in "
        "KT7MRL40562D9_Rx::Setup(). ",
        message);
    Tx tx(*tx_, "(KT7MRL40562D9_Tx (FG 1) (SW 1) (tx_samplerate 2e14))", 1e-10, 1.0 / 2e14);
    EXPECT_EQ(0, tx.result);
    EXPECT_STREQ(
        "The IBIS-AMI model, KT7MRL40562D9_Tx, cannot run at tx_samplerate = 2e+14: the "
        "largest supported sample rate is 1e+14 samples per second. Error occurred in "
        "KT7MRL40562D9_Tx::Setup(). ",
        tx.msg);
    EXPECT_EQ((std::vector<std::string>{
                  "rx_samplerate = 1e+17 is above the largest supported sample rate, 1e+14 "
                  "samples per second",
                  "tx_samplerate = 2e+14 is above the largest supported sample rate, 1e+14 "
                  "samples per second"}),
              capture.Lines());
    std::vector<double> atBound = Pulse(4, 8);
    EXPECT_EQ(1, RxInit(atBound, 2, 1, "(KT7MRL40562D9_Rx (rx_samplerate 1e14) (EQ 3))"));
    // Just above the bound, the two numbers print apart.
    EXPECT_EQ(0, RxInit(atBound, 2, 1, "(KT7MRL40562D9_Rx (rx_samplerate 100000000000000.02))",
                        &message));
    EXPECT_NE(std::string::npos, message.find("rx_samplerate = 100000000000000.02: the largest "
                                              "supported sample rate is 1e+14 "))
        << message;
}

}  // namespace
