#include <locale.h>

#include <clocale>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "amiparams/AmiParameters.h"
#include "modelbuilder/NumericConversion.h"

namespace {

// Made once and kept for the life of the process; a host may switch its own locale at will.
#if defined(_WIN32)
using CLocaleHandle = _locale_t;
CLocaleHandle CLocale() {
    static const CLocaleHandle c = _create_locale(LC_ALL, "C");
    return c;
}
#else
using CLocaleHandle = locale_t;
CLocaleHandle CLocale() {
    static const CLocaleHandle c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
    return c;
}
#endif

// Appends name to a matched full path of length `length`: "." first unless that path is
// empty. Answers whether path continues that way, and the new matched length.
bool Extend(const char* path, std::size_t pathLength, std::size_t length, const std::string& name,
            std::size_t& extended) {
    std::size_t at = length;
    if (length > 0) {
        if (at >= pathLength || path[at] != '.') return false;
        ++at;
    }
    if (name.size() > pathLength - at) return false;
    if (name.compare(0, name.size(), path + at, name.size()) != 0) return false;
    extended = at + name.size();
    return true;
}

const AmiParamValue* FirstNumericValue(const AmiParameters& parameters, const char* path) {
    if (!parameters.valid || !parameters.tree || parameters.tree->entries.empty()) return nullptr;
    const AmiParamNode* root = parameters.tree->entries[0].node;
    if (root == nullptr) return nullptr;
    const AmiParamNode* leaf = FindAmiLeaf(root, path, "");
    if (leaf == nullptr || leaf->values.empty()) return nullptr;
    const AmiParamValue& value = leaf->values[0];
    if (value.type != AmiValueInteger && value.type != AmiValueFloat) return nullptr;
    return &value;
}

}  // namespace

double AmiStrtod(const char* text, char** end) {
    const CLocaleHandle c = CLocale();
#if defined(_WIN32)
    return c != nullptr ? _strtod_l(text, end, c) : std::strtod(text, end);
#else
    return c != static_cast<locale_t>(nullptr) ? strtod_l(text, end, c) : std::strtod(text, end);
#endif
}

long AmiStrtol(const char* text, char** end) {
    const CLocaleHandle c = CLocale();
#if defined(_WIN32)
    return c != nullptr ? _strtol_l(text, end, 10, c) : std::strtol(text, end, 10);
#else
    return c != static_cast<locale_t>(nullptr) ? strtol_l(text, end, 10, c)
                                               : std::strtol(text, end, 10);
#endif
}

// Depth first in document order with an explicit stack, comparing the path as it is matched
// rather than building each node's full path: deep or wide trees cost time and memory linear in
// their size. A subtree whose full path does not start the path cannot hold the match.
const AmiParamNode* FindAmiLeaf(const AmiParamNode* node, const char* path, const char* prefix) {
    if (node == nullptr || path == nullptr || node->children.empty()) return nullptr;
    const std::size_t pathLength = std::strlen(path);
    const std::size_t prefixLength = prefix != nullptr ? std::strlen(prefix) : 0;
    if (prefixLength > pathLength ||
        (prefixLength > 0 && std::memcmp(prefix, path, prefixLength) != 0))
        return nullptr;
    std::size_t length = 0;
    if (!Extend(path, pathLength, prefixLength, node->name, length)) return nullptr;

    struct Frame {
        const AmiParamNode* branch;
        std::size_t next;
        std::size_t length;
    };
    std::vector<Frame> stack{{node, 0, length}};
    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next == frame.branch->children.size()) {
            stack.pop_back();
            continue;
        }
        const AmiParamEntry& child = frame.branch->children[frame.next++];
        std::size_t childLength = 0;
        if (!Extend(path, pathLength, frame.length, child.node->name, childLength)) continue;
        if (child.kind == AmiEntryLeaf) {
            if (childLength == pathLength) return child.node;
        } else if (!child.node->children.empty()) {
            stack.push_back({child.node, 0, childLength});
        }
    }
    return nullptr;
}

bool GetAmiDouble(const AmiParameters& parameters, double& destination, const char* path) {
    const AmiParamValue* value = FirstNumericValue(parameters, path);
    if (value == nullptr) return false;
    destination = AmiStrtod(value->text.c_str(), nullptr);
    return true;
}

bool GetAmiInt(const AmiParameters& parameters, std::int32_t& destination, const char* path) {
    const AmiParamValue* value = FirstNumericValue(parameters, path);
    if (value == nullptr) return false;
    destination = CorvanaModelBuilder::TruncateToInt32(AmiStrtod(value->text.c_str(), nullptr));
    return true;
}
