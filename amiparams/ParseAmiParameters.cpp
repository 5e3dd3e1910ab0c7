#include <clocale>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "amiparams/AmiParameters.h"

namespace {

// The "C" locale's whitespace, without asking a locale and without sign-extending a char.
bool IsSpace(char c) {
    const auto u = static_cast<unsigned char>(c);
    return u == ' ' || (u >= '\t' && u <= '\r');
}

bool IsDelimiter(char c) { return IsSpace(c) || c == '(' || c == ')'; }

std::int32_t TypeOf(const std::string& text) {
    if (text.empty()) return AmiValueEmpty;
    if (text[0] == '"') return AmiValueString;
    char* end = nullptr;
    AmiStrtol(text.c_str(), &end);
    if (end != text.c_str() && *end == '\0') return AmiValueInteger;
    AmiStrtod(text.c_str(), &end);
    if (end != text.c_str() && *end == '\0') return AmiValueFloat;
    if (text == "True" || text == "False") return AmiValueBoolean;
    return AmiValueString;
}

// Walks the text once and fills the flat entry list, one entry per group in opening order.
class Tokenizer {
public:
    Tokenizer(const char* text, std::size_t length, std::size_t start, AmiParamTree& tree)
        : s_(text), length_(length), pos_(start), tree_(tree) {}

    AmiParseResult Run() {
        const std::int64_t groups = tree_.count;
        while (taken_ < groups) {
            SkipSpace();
            if (pos_ >= length_) return AmiParseSuccess;  // the text ended: link what was taken
            const char c = s_[pos_];
            if (c == ')') {  // closes the innermost open branch
                if (depth_ == 0) return AmiParseNothingToClose;
                --depth_;
                ++pos_;
                continue;
            }
            if (c != '(') return AmiParseNothingToClose;  // stray text: see AmiParseNothingToClose
            const AmiParseResult code = Group();
            if (code != AmiParseSuccess) return code;
        }
        return AmiParseSuccess;
    }

private:
    void SkipSpace() {
        while (pos_ < length_ && IsSpace(s_[pos_])) ++pos_;
    }

    AmiParseResult Group() {
        ++pos_;
        ++depth_;
        ++taken_;
        SkipSpace();
        const std::size_t nameStart = pos_;
        while (pos_ < length_ && !IsDelimiter(s_[pos_])) ++pos_;
        std::string name(s_ + nameStart, pos_ - nameStart);
        SkipSpace();
        if (pos_ >= length_) return AmiParseUnbalanced;
        if (s_[pos_] == ')') return AmiParseNothingToClose;  // a name and nothing else
        const std::int64_t level = depth_;
        if (s_[pos_] == '(') return Add(AmiEntryBranch, level, std::move(name), nullptr);

        auto leaf = std::make_unique<AmiParamNode>();
        for (;;) {
            SkipSpace();
            if (pos_ >= length_) return AmiParseUnbalanced;
            if (s_[pos_] == ')') {
                ++pos_;
                --depth_;
                return Add(AmiEntryLeaf, level, std::move(name), std::move(leaf));
            }
            if (s_[pos_] == '(') return DiscardLeaf();
            AmiParamValue value;
            value.text = Token();
            value.type = TypeOf(value.text);
            leaf->values.push_back(std::move(value));
            ++leaf->count;
        }
    }

    // Up to whitespace, ")" or "(" outside quotes. A quote starts the token's text anew.
    std::string Token() {
        std::size_t textStart = pos_;
        while (pos_ < length_ && !IsDelimiter(s_[pos_])) {
            if (s_[pos_] == '"') {
                textStart = pos_;
                ++pos_;
                while (pos_ < length_ && s_[pos_] != '"') ++pos_;
                if (pos_ < length_) ++pos_;
            } else {
                ++pos_;
            }
        }
        return std::string(s_ + textStart, pos_ - textStart);
    }

    // A "(" among a leaf's values: the leaf and everything up to its own ")" are dropped. The
    // groups skipped count as taken, so that tokenizing still ends after the last counted one.
    AmiParseResult DiscardLeaf() {
        std::int64_t open = 1;
        while (pos_ < length_) {
            const char c = s_[pos_++];
            if (c == '"') {
                while (pos_ < length_ && s_[pos_] != '"') ++pos_;
                if (pos_ < length_) ++pos_;
            } else if (c == '(') {
                ++open;
                ++taken_;
            } else if (c == ')' && --open == 0) {
                --depth_;
                return AmiParseSuccess;
            }
        }
        return AmiParseUnbalanced;
    }

    AmiParseResult Add(AmiEntryKind kind, std::int64_t level, std::string name,
                       std::unique_ptr<AmiParamNode> node) {
        if (made_ >= tree_.entries.size()) return AmiParseTooManyGroups;
        if (!node) node = std::make_unique<AmiParamNode>();
        node->name = std::move(name);
        AmiParamEntry& entry = tree_.entries[made_++];
        entry.kind = kind;
        entry.level = static_cast<std::int32_t>(level);
        entry.node = node.release();
        return AmiParseSuccess;
    }

    const char* s_;
    std::size_t length_;
    std::size_t pos_;
    AmiParamTree& tree_;
    std::int64_t taken_ = 0;
    std::int64_t depth_ = 0;
    std::size_t made_ = 0;
};

// Attaches every entry to the open branch one level up, with a stack of open branches.
AmiParseResult Link(AmiParamTree& tree) {
    if (tree.entries.empty() || tree.entries[0].node == nullptr) return AmiParseSuccess;  // no root
    if (tree.entries[0].kind != AmiEntryBranch) return AmiParseNoRoot;
    std::vector<AmiParamEntry> open{tree.entries[0]};
    for (std::size_t i = 1; i < tree.entries.size(); ++i) {
        const AmiParamEntry& entry = tree.entries[i];
        if (entry.node == nullptr) continue;
        while (open.back().level >= entry.level) {
            if (open.size() == 1) return AmiParseNoEnclosingBranch;  // a second top-level group
            open.pop_back();
        }
        AmiParamNode* parent = open.back().node;
        if (entry.level != open.back().level + 1) return AmiParseNoEnclosingBranch;
        parent->children.push_back(entry);
        ++parent->count;
        if (entry.kind == AmiEntryBranch) open.push_back(entry);
    }
    return AmiParseSuccess;
}

AmiParseResult Parse(const char* text, AmiParameters& result) {
    if (text == nullptr) return AmiParseNoRoot;
    const std::size_t length = std::strlen(text);
    std::size_t start = 0;
    while (start < length && IsSpace(text[start])) ++start;
    if (start >= length || text[start] != '(') return AmiParseNoOpeningParenthesis;

    std::uint64_t opens = 0;
    std::uint64_t closes = 0;
    bool quoted = false;
    for (std::size_t i = start; i < length; ++i) {
        const char c = text[i];
        if (c == '"') {
            quoted = !quoted;
        } else if (!quoted) {
            if (c == '(') ++opens;
            if (c == ')') ++closes;
        }
    }
    if (opens != closes) return AmiParseUnbalanced;
    if (opens > static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max()))
        return AmiParseNoMemory;

    auto tree = std::make_unique<AmiParamTree>();
    tree->count = static_cast<std::int32_t>(opens);
    tree->entries.resize(static_cast<std::size_t>(opens));
    AmiParseResult code = Tokenizer(text, length, start, *tree).Run();
    if (code == AmiParseSuccess) code = Link(*tree);
    if (code != AmiParseSuccess) return code;
    result.tree = std::move(tree);
    result.valid = true;
    return AmiParseSuccess;
}

}  // namespace

AmiParamTree::~AmiParamTree() {
    for (AmiParamEntry& entry : entries) delete entry.node;
}

AmiParameters ParseAmiParameters(const char* text, AmiParseResult& resultCode) {
    AmiParameters result;
    try {
        resultCode = Parse(text, result);
    } catch (const std::bad_alloc&) {
        resultCode = AmiParseNoMemory;
    }
    if (resultCode != AmiParseSuccess) {
        result.tree.reset();
        result.valid = false;
    }
    return result;
}

AmiParameters ParseAmiParameters(const char* text) {
    AmiParseResult code = AmiParseSuccess;
    return ParseAmiParameters(text, code);
}

void ReleaseAmiParameters(AmiParameters& parameters) {
    parameters.tree.reset();
    parameters.valid = false;
}
