// Registry of the container formats.
#include "format.h"

#include <algorithm>
#include <cstring>

namespace vekdc {

namespace {

std::vector<Format>& registry() {
    static std::vector<Format> list;
    return list;
}

} // namespace

bool register_format(const Format& format) {
    registry().push_back(format);
    return true;
}

std::vector<Format> formats() {
    std::vector<Format> f = registry();
    std::sort(f.begin(), f.end(),
              [](const Format& a, const Format& b) { return std::strcmp(a.name, b.name) < 0; });
    return f;
}

const Format* find_format(const std::string& name) {
    for (const Format& f : registry())
        if (name == f.name) return &f;
    return nullptr;
}

std::string format_names() {
    std::string s;
    for (const Format& f : formats()) s += (s.empty() ? "" : ", ") + std::string(f.name);
    return s.empty() ? "none" : s;
}

} // namespace vekdc
