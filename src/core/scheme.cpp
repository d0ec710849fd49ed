#include "scheme.h"

namespace velloran {

const char *schemeName(Scheme scheme) {
    return scheme == Scheme::Sound ? "sound" : "literal";
}

bool parseScheme(const std::string &word, Scheme *out) {
    if (word == "literal") {
        *out = Scheme::Literal;
        return true;
    }
    if (word == "sound") {
        *out = Scheme::Sound;
        return true;
    }
    return false;
}

} // namespace velloran
