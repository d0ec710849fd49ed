#include "scheme.h"

#include "check.h"
#include "literalscheme.h"
#include "schemesteps.h"
#include "soundscheme.h"

namespace velloran {

namespace {

template <class Steps> std::unique_ptr<SchemeSteps> make(Stepping &stepping, Flow &flow) {
    return std::make_unique<Steps>(stepping, flow);
}

const SchemeEntry kSchemes[] = {
    {Scheme::Literal, "literal", false, &make<LiteralScheme>},
    {Scheme::Sound, "sound", true, &make<SoundScheme>},
};

} // namespace

const SchemeEntry &schemeEntry(Scheme scheme) {
    for (const SchemeEntry &entry : kSchemes) {
        if (entry.scheme == scheme) {
            return entry;
        }
    }
    VELLORAN_CHECK(!"a scheme without an entry");
    return kSchemes[0];
}

const char *schemeName(Scheme scheme) {
    return schemeEntry(scheme).name;
}

bool parseScheme(const std::string &word, Scheme *out) {
    for (const SchemeEntry &entry : kSchemes) {
        if (word == entry.name) {
            *out = entry.scheme;
            return true;
        }
    }
    return false;
}

} // namespace velloran
