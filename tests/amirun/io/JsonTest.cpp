// JSON text that stays valid whatever the input.
#include "tools/amirun/io/Json.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace amirun {
namespace {

TEST(Json, IsValidWhateverTheText) {
    JsonObject json;
    json.Text("name", std::string("a\"b\\c\n\x01 caf\xc3\xa9 \xff\xfe \xed\xa0\x80 end"))
        .Number("nan", std::nan(""))
        .Number("big", 5.9e296)
        .Bool("yes", true);
    EXPECT_EQ(
        "{\"name\":\"a\\\"b\\\\c\\u000a\\u0001 caf\xc3\xa9 \\ufffd\\ufffd \\ufffd\\ufffd\\ufffd "
        "end\","
        "\"nan\":null,\"big\":5.9e+296,\"yes\":true}",
        json.Json());
}

}  // namespace
}  // namespace amirun
