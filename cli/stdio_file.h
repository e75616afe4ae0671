// A C stdio file closed when it goes out of scope, and an error message naming a file and the
// system's reason: what the image-file writers share.
#pragma once
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

namespace lumet::cli {

struct FileCloser {
    void operator()(std::FILE* file) const {
        if (file) std::fclose(file);
    }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// "PATH: WHAT: <strerror(errno)>".
inline std::string systemError(const std::string& path, const char* what) {
    return path + ": " + what + ": " + std::strerror(errno);
}

}  // namespace lumet::cli
