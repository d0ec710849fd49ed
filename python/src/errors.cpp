#include "errors.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

namespace velloran::binding {

int readFailureErrno(const std::string &path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return errno;
    }
    if (S_ISDIR(info.st_mode)) {
        return EISDIR;
    }
    if (::access(path.c_str(), R_OK) != 0) {
        return errno;
    }
    return 0;
}

} // namespace velloran::binding
