#include "ami/AmiModelInstance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ami/AmiInitFrame.h"
#include "ami/RxColumns.h"
#include "modelbuilder/CircularBuffer.h"

namespace {

// Adds 100 to each sample; its Run fails on the failAt-th call of the failColumn-th cycle.
struct FakeModel {
    bool Setup() {
        events += "S";
        return true;
    }
    bool Initialize() {
        events += "I";
        calls = 0;
        return true;
    }
    bool Run() {
        if (cycle == failColumn && calls++ == failAt) return false;
        Output.Data[0] = Input.Data[0] + 100.0;
        return true;
    }
    // Takes whole columns only when told to, adding 1000 instead of 100.
    bool RunBlock(double* samples, std::int32_t count) {
        if (!takeBlocks) return false;
        events += "B";
        for (std::int32_t i = 0; i < count; ++i) samples[i] += 1000.0;
        return true;
    }
    bool Finalize() {
        events += "F";
        ++cycle;
        return true;
    }
    CorvanaModelBuilder::CircularBuffer<double> Input;
    CorvanaModelBuilder::CircularBuffer<double> Output;
    std::string events;
    int cycle = 0;
    int calls = 0;
    int failColumn = -1;
    int failAt = -1;
    bool takeBlocks = false;
};

const AmiLifecycleLines kLines = {"setup. ", "init. ", "run. ", "final. "};

TEST(FilterColumns, AFailureInColumnOneOfThreeStopsAtTheFailingSample) {
    AmiModelInstance<FakeModel> instance;
    instance.model.failColumn = 1;
    instance.model.failAt = 2;
    instance.AttachPorts();
    std::vector<double> matrix{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    EXPECT_FALSE(FilterColumns(instance, matrix.data(), 4, 2, kLines));
    EXPECT_EQ((std::vector<double>{101, 102, 103, 104, 105, 106, 7, 8, 9, 10, 11, 12}), matrix);
    EXPECT_EQ("SIFSIF", instance.model.events);
    EXPECT_EQ("run. ", instance.messageLog);
}

TEST(FilterColumns, EveryColumnGetsItsOwnLifecycleAndNoRowsRunNothing) {
    AmiModelInstance<FakeModel> instance;
    instance.AttachPorts();
    std::vector<double> matrix{1, 2, 3, 4};
    EXPECT_TRUE(FilterColumns(instance, matrix.data(), 2, 1, kLines));
    EXPECT_EQ((std::vector<double>{101, 102, 103, 104}), matrix);
    EXPECT_EQ("SIFSIF", instance.model.events);

    instance.model.events.clear();
    EXPECT_TRUE(FilterColumns(instance, matrix.data(), 0, 2, kLines));
    EXPECT_TRUE(FilterColumns(instance, matrix.data(), -5, 0, kLines));
    EXPECT_EQ("SIFSIF", instance.model.events);  // no rows: one lifecycle whatever the columns
    EXPECT_TRUE(FilterColumns(instance, matrix.data(), 2, -1, kLines));
    EXPECT_EQ((std::vector<double>{101, 102, 103, 104}), matrix);
    EXPECT_EQ("", instance.messageLog);
}

TEST(FilterColumns, ABlockPathTakesWholeColumnsAndEmptyColumnsNeedNoMatrix) {
    AmiModelInstance<FakeModel> instance;
    instance.AttachPorts();
    instance.model.takeBlocks = true;
    std::vector<double> matrix{1, 2, 3, 4};
    EXPECT_TRUE(FilterColumns(instance, matrix.data(), 2, 1, kLines));
    EXPECT_EQ((std::vector<double>{1001, 1002, 1003, 1004}), matrix);
    EXPECT_EQ("SIBFSIBF", instance.model.events);

    // No sample pointer is formed for an empty column, so a null matrix with a negative row
    // size is no undefined behaviour (the sanitizer build checks).
    instance.model.events.clear();
    EXPECT_TRUE(FilterColumns(instance, nullptr, -1, 2, kLines));
    EXPECT_EQ("SIF", instance.model.events);
    // Nor do two billion empty columns take two billion lifecycles.
    instance.model.events.clear();
    EXPECT_TRUE(FilterColumns(instance, nullptr, 0, 2147483647, kLines));
    EXPECT_EQ("SIF", instance.model.events);
}

TEST(FinishAmiInit, WithNoPlaceForTheHandleFreesTheInstanceAndFails) {
    auto* instance = new AmiModelInstance<FakeModel>();
    instance->Log("something. ");
    char* msg = nullptr;
    EXPECT_EQ(0,
              FinishAmiInit(instance, nullptr, &msg, true));  // freed: the sanitizer build checks
    EXPECT_EQ(nullptr, msg);
}

TEST(FinishAmiInit, HandsOutAFrozenCopyOfTheLog) {
    auto* instance = new AmiModelInstance<FakeModel>();
    void* handle = nullptr;
    char* msg = nullptr;
    EXPECT_EQ(1, FinishAmiInit(instance, &handle, &msg, true));
    EXPECT_EQ(instance, handle);
    EXPECT_EQ(nullptr, msg);  // empty log: msg not written
    instance->Log("first. ");
    EXPECT_EQ(0, FinishAmiInit(instance, &handle, &msg, false));
    ASSERT_NE(nullptr, msg);
    instance->Log(std::string(10000, 'x').c_str());  // would move the log's own text
    EXPECT_STREQ("first. ", msg);
    delete instance;
}

TEST(AmiLong, KeepsTheLowThirtyTwoBits) {
    EXPECT_EQ(5, AmiLong(5L));
    EXPECT_EQ(-3, AmiLong(-3L));
    EXPECT_EQ(-2147483647 - 1, AmiLong(2147483648L));
    EXPECT_EQ(7, AmiLong(0x100000007L));
}

}  // namespace
