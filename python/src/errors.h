#pragma once

// The module's failures as C++ exceptions. module.cpp turns each into the
// Python exception a caller expects; code below the bindings only throws.

#include <stdexcept>
#include <string>

namespace velloran::binding {

// Bad input from the caller (shape, dtype, value, parameter): ValueError.
struct InputError : std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

// A file that cannot be read or written: OSError, or the subclass its errno
// names (FileNotFoundError, PermissionError, IsADirectoryError).
struct FileError : std::runtime_error {
    FileError(int error, const std::string &message, const std::string &file)
        : std::runtime_error(message)
        , errnum(error)
        , path(file) {}
    int errnum; // 0 when the cause is the file's content, not the file system
    std::string path;
};

// The density or velocity became non-finite: velloran.UnstableError.
struct UnstableError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The run is in use by another thread, or belongs to another process: RuntimeError.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// errno for a path that could not be read: ENOENT, EACCES or EISDIR when the
// file system explains the failure, 0 when the file is there and readable
// (its content is at fault).
int readFailureErrno(const std::string &path);

} // namespace velloran::binding
