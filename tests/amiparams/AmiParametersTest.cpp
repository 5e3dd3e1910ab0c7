#include "amiparams/AmiParameters.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

struct Parsed {
    explicit Parsed(const char* text) : parameters(ParseAmiParameters(text, code)) {}
    ~Parsed() { ReleaseAmiParameters(parameters); }
    const AmiParamNode* Root() const {
        return parameters.tree && !parameters.tree->entries.empty()
                   ? parameters.tree->entries[0].node
                   : nullptr;
    }
    AmiParseResult code = AmiParseBadToken;
    AmiParameters parameters;
};

// "name(child child)" for branches, "name=value:type,value:type" for leaves.
std::string Describe(const AmiParamNode& node, std::int32_t kind) {
    std::string text = node.name;
    if (kind == AmiEntryLeaf) {
        text += "=";
        for (size_t i = 0; i < node.values.size(); ++i)
            text +=
                (i ? "," : "") + node.values[i].text + ":" + std::to_string(node.values[i].type);
        return text;
    }
    text += "(";
    for (size_t i = 0; i < node.children.size(); ++i)
        text += (i ? " " : "") + Describe(*node.children[i].node, node.children[i].kind);
    return text + ")";
}

std::string Tree(const char* text) {
    Parsed p(text);
    if (!p.parameters.valid) return "invalid " + std::to_string(p.code);
    if (p.Root() == nullptr) return "no root";
    return Describe(*p.Root(), AmiEntryBranch);
}

TEST(ParseAmiParameters, BuildsTypedTrees) {
    const struct {
        const char* text;
        const char* tree;
    } cases[] = {
        {"(KT7MRL40562D9_Rx (rx_samplerate 2.5e11) (EQ 3))",
         "KT7MRL40562D9_Rx(rx_samplerate=2.5e11:3 EQ=3:1)"},
        {"(KT7MRL40562D9_Rx(EQ 3)(rx_samplerate 1e11))",
         "KT7MRL40562D9_Rx(EQ=3:1 rx_samplerate=1e11:3)"},
        {" \n\t(Root\n\t(EQ   3 )\r\n  (x\t\"a b\"))  ", "Root(EQ=3:1 x=\"a b\":0)"},
        {"(Root (s \"x (y\" ))", "Root(s=\"x (y\":0)"},
        {"(Root (v 1 2.5 True))", "Root(v=1:1,2.5:3,True:2)"},
        {"(Root (a 1 (b 2)) (c 3))", "Root(c=3:1)"},
        {"(Root (a \"q)\" 1 (b \"(\" (d 2)) \")\") (c 3))", "Root(c=3:1)"},
        {"(Root (t True) (f False) (l true) (p +5) (m -7) (d 5.) (e 1e3) (h 0x1A) (n nan))",
         "Root(t=True:2 f=False:2 l=true:0 p=+5:1 m=-7:1 d=5.:3 e=1e3:3 h=0x1A:3 n=nan:3)"},
        {"(Root (w ab\"c d\"e))", "Root(w=\"c d\"e:0)"},
        {"(Root (B (C (leaf 1)) (x 2)) (y 3))", "Root(B(C(leaf=1:1) x=2:1) y=3:1)"},
        {"(Root (a 1)) trailing words", "Root(a=1:1)"},
        {"(Root (a 1) ignored)", "Root(a=1:1)"},
        {"((a 1))", "(a=1:1)"},
        {"(EQ 3 (x 1))", "no root"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.tree, Tree(c.text)) << c.text;
}

TEST(ParseAmiParameters, RejectsBrokenStrings) {
    const struct {
        const char* text;
        AmiParseResult code;
    } cases[] = {
        {"", AmiParseNoOpeningParenthesis},
        {"   ", AmiParseNoOpeningParenthesis},
        {"x (Root (a 1))", AmiParseNoOpeningParenthesis},
        {"(Root (a 1)", AmiParseUnbalanced},
        {"(Root (a 1)))", AmiParseUnbalanced},
        {"(Root (a \"(\" 1)", AmiParseUnbalanced},
        {"(EQ 3)", AmiParseNoRoot},
        {"(Root (EQ))", AmiParseNothingToClose},
        {"(Root ())", AmiParseNothingToClose},
        {"(Root (a 1)) (Other (b 2))", AmiParseNoEnclosingBranch},
        {"(Root (a 1) (Other) (b 2))", AmiParseNothingToClose},
        {"(Root (a 1) junk (b 2))", AmiParseNothingToClose},
        {"(Root (a 1)) ((b 2))", AmiParseNoEnclosingBranch},
        {"(Root (a 1)\n(Root2 (b 1)))", AmiParseSuccess},
    };
    for (const auto& c : cases) {
        Parsed p(c.text);
        EXPECT_EQ(c.code, p.code) << c.text;
        EXPECT_EQ(c.code == AmiParseSuccess, p.parameters.valid) << c.text;
        EXPECT_EQ(c.code == AmiParseSuccess, p.parameters.tree != nullptr) << c.text;
    }
    AmiParseResult code = AmiParseSuccess;
    AmiParameters none = ParseAmiParameters(nullptr, code);
    EXPECT_FALSE(none.valid);
    EXPECT_EQ(AmiParseNoRoot, code);
}

TEST(ParseAmiParameters, LongWhitespaceRunsAreOrdinaryWhitespace) {
    const std::string gap(5000, ' ');
    const std::string text = "(Root" + gap + "(EQ" + gap + "3" + gap + ")" + gap + ")";
    EXPECT_EQ("Root(EQ=3:1)", Tree(text.c_str()));
}

TEST(ParseAmiParameters, HighBytesAreOrdinaryCharacters) {
    EXPECT_EQ("Root(\xe9q=\xa0\xff:0)", Tree("(Root (\xe9q \xa0\xff))"));
}

TEST(ParseAmiParameters, DeepNestingParsesAndLooksUpWithoutRecursion) {
    const int depth = 100000;
    std::string text;
    std::string path;
    for (int i = 0; i < depth; ++i) {
        text += "(n ";
        path += i ? ".n" : "n";
    }
    text += "(leaf 42)";
    text += std::string(static_cast<size_t>(depth), ')');
    path += ".leaf";
    Parsed p(text.c_str());
    ASSERT_TRUE(p.parameters.valid);
    std::int32_t value = 0;
    EXPECT_TRUE(GetAmiInt(p.parameters, value, path.c_str()));
    EXPECT_EQ(42, value);
    EXPECT_FALSE(GetAmiInt(p.parameters, value, (path + "x").c_str()));
}

struct Lookup {
    const char* text;
    const char* path;
    bool found;
    double asDouble;
    std::int32_t asInt;
};

TEST(GetAmiValue, FollowsFullPathsAndConvertsTheFirstValue) {
    const std::int32_t kMin = -2147483647 - 1;
    const Lookup cases[] = {
        {"(KT7MRL40562D9_Rx (rx_samplerate 2.5e11) (EQ 3))", "KT7MRL40562D9_Rx.rx_samplerate", true,
         2.5e11, kMin},  // the integer of 2.5e11 does not fit
        {"(KT7MRL40562D9_Rx (rx_samplerate 2.5e11) (EQ 3))", "KT7MRL40562D9_Rx.EQ", true, 3, 3},
        {"(KT7MRL40562D9_Rx (EQ 3))", "KT7MRL40562D9_Rx.eq", false, 0, 0},
        {"(Other_Model (EQ 3))", "KT7MRL40562D9_Rx.EQ", false, 0, 0},
        {"(M (Model_Specific (EQ 3)))", "M.EQ", false, 0, 0},
        {"(M (Model_Specific (EQ 3)))", "M.Model_Specific.EQ", true, 3, 3},
        {"(M (Model_Specific (EQ 3)))", "M.Model_Specific", false, 0, 0},
        {"(M (EQ 3 4))", "M.EQ", true, 3, 3},
        {"(M (EQ 3.9))", "M.EQ", true, 3.9, 3},
        {"(M (EQ -2.7))", "M.EQ", true, -2.7, -2},
        {"(M (EQ 1e1))", "M.EQ", true, 10, 10},
        {"(M (EQ 3e10))", "M.EQ", true, 3e10, kMin},
        {"(M (EQ -3e10))", "M.EQ", true, -3e10, kMin},
        {"(M (EQ -2147483648.9))", "M.EQ", true, -2147483648.9, kMin},
        {"(M (EQ 2147483647.9))", "M.EQ", true, 2147483647.9, 2147483647},
        {"(M (EQ 99999999999999999999))", "M.EQ", true, 1e20, kMin},
        {"(M (EQ 50))", "M.EQ", true, 50, 50},
        {"(M (EQ \"3\"))", "M.EQ", false, 0, 0},
        {"(M (EQ True))", "M.EQ", false, 0, 0},
        {"(M (EQ x3))", "M.EQ", false, 0, 0},
        {"(M (EQ 1) (EQ 2))", "M.EQ", true, 1, 1},
        {"(M (B (EQ 5)) (B (EQ 6)))", "M.B.EQ", true, 5, 5},
        {"(M (a.b 7) (a (b 8)))", "M.a.b", true, 7, 7},
        {"(M (a (b 8)) (a.b 7))", "M.a.b", true, 8, 8},
        {"( (x 4))", "x", true, 4, 4},
        {"(M ( (x 4)))", "M..x", true, 4, 4},
        {"(M (EQ 1)", "M.EQ", false, 0, 0},
    };
    for (const Lookup& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " " + c.path);
        Parsed p(c.text);
        double d = -123.0;
        std::int32_t i = -456;
        EXPECT_EQ(c.found, GetAmiDouble(p.parameters, d, c.path));
        EXPECT_EQ(c.found, GetAmiInt(p.parameters, i, c.path));
        EXPECT_EQ(c.found ? c.asDouble : -123.0, d);
        EXPECT_EQ(c.found ? c.asInt : -456, i);
    }
}

TEST(GetAmiValue, InfinityAndNanGiveTheIntegerOutOfRangeValue) {
    Parsed p("(M (a inf) (b -inf) (c nan) (d 1e400))");
    for (const char* path : {"M.a", "M.b", "M.c", "M.d"}) {
        std::int32_t value = 1;
        EXPECT_TRUE(GetAmiInt(p.parameters, value, path)) << path;
        EXPECT_EQ(-2147483647 - 1, value) << path;
    }
}

TEST(GetAmiValue, NullTextsFailWithoutTouchingTheDestination) {
    Parsed p("(M (EQ 3))");
    double d = 1.5;
    std::int32_t i = 7;
    EXPECT_FALSE(GetAmiDouble(p.parameters, d, nullptr));
    EXPECT_FALSE(GetAmiInt(p.parameters, i, nullptr));
    EXPECT_EQ(nullptr, FindAmiLeaf(nullptr, "M.EQ", ""));
    EXPECT_EQ(nullptr, FindAmiLeaf(p.Root(), "M.EQ", "X"));
    ASSERT_NE(nullptr, FindAmiLeaf(p.Root(), "M.EQ", nullptr));
    AmiParameters released = ParseAmiParameters("(M (EQ 3))");
    ReleaseAmiParameters(released);
    EXPECT_FALSE(GetAmiInt(released, i, "M.EQ"));
    EXPECT_EQ(1.5, d);
    EXPECT_EQ(7, i);
}

// Switches LC_NUMERIC to a locale with a decimal comma, building one with localedef when the
// machine has none installed.
bool UseDecimalCommaLocale() {
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8"})
        if (std::setlocale(LC_NUMERIC, name) != nullptr) return true;
    const std::string dir = ::testing::TempDir() + "kt_locales";
    const std::string command = "mkdir -p '" + dir + "' && localedef -i de_DE -f UTF-8 '" + dir +
                                "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    setenv("LOCPATH", dir.c_str(), 1);
    return std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr;
}

TEST(GetAmiValue, NumbersReadAsInTheCLocaleWhateverTheHostSet) {
    const std::string saved = std::setlocale(LC_NUMERIC, nullptr);
    if (!UseDecimalCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma can be made";
    ASSERT_EQ(',', *std::localeconv()->decimal_point);
    Parsed p("(M (rate 2.5e11) (gain 0.75) (count 12) (comma 2,5))");
    double value = 0.0;
    std::int32_t count = 0;
    EXPECT_TRUE(GetAmiDouble(p.parameters, value, "M.rate"));
    EXPECT_EQ(2.5e11, value);
    EXPECT_TRUE(GetAmiDouble(p.parameters, value, "M.gain"));
    EXPECT_EQ(0.75, value);
    EXPECT_TRUE(GetAmiInt(p.parameters, count, "M.count"));
    EXPECT_EQ(12, count);
    EXPECT_FALSE(GetAmiDouble(p.parameters, value, "M.comma"));
    std::setlocale(LC_NUMERIC, saved.c_str());
}

}  // namespace
