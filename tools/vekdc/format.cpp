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

struct OptionArity {
    const char* name;
    int values;
};

std::vector<OptionArity>& option_registry() {
    static std::vector<OptionArity> list;
    return list;
}

}  // namespace

bool register_format_option(const char* name, int values) {
    option_registry().push_back({name, values});
    return true;
}

int format_option_values(const std::string& name) {
    for (const OptionArity& o : option_registry())
        if (name == o.name) return o.values;
    return 0;
}

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

}  // namespace vekdc
