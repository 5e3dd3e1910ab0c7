#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The AMI parameter string, parsed into a flat list of groups linked into a tree of named
// branches and leaves with typed values. The string comes from a host and is untrusted: parsing
// and lookup run in time and memory linear in it, without recursion.

enum AmiValueType : std::int32_t {
    AmiValueEmpty = -1,
    AmiValueString = 0,
    AmiValueInteger = 1,
    AmiValueBoolean = 2,
    AmiValueFloat = 3,
};

// Why a parse failed; callers of the one-argument form see only `valid`.
enum AmiParseResult : int {
    AmiParseSuccess = 0,
    AmiParseUnbalanced = 1,            // "(" and ")" outside quotes differ in number
    AmiParseNoOpeningParenthesis = 2,  // the first non-blank character is not "("
    AmiParseNoRoot = 3,                // no text, or the outermost group is a leaf
    AmiParseNoMemory = 4,
    AmiParseNoEnclosingBranch = 5,  // a second top-level group, or a miscounted depth
    // A ")" with no branch open, as after a name-only group. Stray text between groups reports
    // this code too: it is the same fault seen one token later, where a group or a ")" belongs.
    AmiParseNothingToClose = 6,
    AmiParseTooManyGroups = 7,
    AmiParseBadToken = 8,  // a token's end lies before its start
};

enum AmiEntryKind : std::int32_t {
    AmiEntryBranch = 0,
    AmiEntryLeaf = 1,
};

struct AmiParamNode;

struct AmiParamEntry {
    AmiEntryKind kind = AmiEntryBranch;
    std::int32_t level = 0;
    AmiParamNode* node = nullptr;  // owned by the tree's flat list, borrowed by children arrays
};

struct AmiParamValue {
    std::string text;  // as written; a quoted token keeps its quotes
    std::int32_t type = AmiValueEmpty;
};

struct AmiParamNode {
    std::string name;
    std::vector<AmiParamEntry> children;  // a branch's
    std::vector<AmiParamValue> values;    // a leaf's, at least one
    std::int32_t count = 0;
};

struct AmiParamTree {
    AmiParamTree() = default;
    AmiParamTree(const AmiParamTree&) = delete;
    AmiParamTree& operator=(const AmiParamTree&) = delete;
    ~AmiParamTree();

    std::vector<AmiParamEntry> entries;  // one per counted group; unfilled ones have no node
    std::int32_t count = 0;
};

struct AmiParameters {
    bool valid = false;
    std::unique_ptr<AmiParamTree> tree;
};

// A null text gives an invalid result; never throws but for running out of memory.
AmiParameters ParseAmiParameters(const char* text);
// As above, with the parser's result code.
AmiParameters ParseAmiParameters(const char* text, AmiParseResult& resultCode);
void ReleaseAmiParameters(AmiParameters& parameters);

// The first leaf, depth first in document order, whose full path (names joined by ".") equals
// path. prefix is the full path of node's parent, empty for the root.
const AmiParamNode* FindAmiLeaf(const AmiParamNode* node, const char* path, const char* prefix);

// Write the first value of the leaf at path and answer true only when it is an Integer or a
// Float; otherwise leave the destination untouched and answer false.
bool GetAmiDouble(const AmiParameters& parameters, double& destination, const char* path);
bool GetAmiInt(const AmiParameters& parameters, std::int32_t& destination, const char* path);

// strtod and strtol as in the "C" locale, whatever locale the host process has set.
double AmiStrtod(const char* text, char** end);
long AmiStrtol(const char* text, char** end);
