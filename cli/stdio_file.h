// A C stdio file closed when it goes out of scope, an error message naming a file and the
// system's reason, and the replacement of a file through a temporary one: what the image-file
// writers share.
#pragma once
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
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

// Closes a file that was written, reporting what the close finds (buffered data that cannot be
// written out, a full disk).
inline bool closeWritten(File& file, const std::string& path, std::string& error) {
    if (std::fclose(file.release()) != 0) {
        error = systemError(path, "write failed");
        return false;
    }
    return true;
}

// Writes `path` by way of a temporary file beside it: `write` creates and fills the file named
// `temporary`, naming `path` in its errors. When it succeeds the temporary replaces `path`; when
// it fails the temporary is removed and whatever file `path` held before is left as it was.
bool writeThroughTemporary(const std::string& path, std::string& error,
                           const std::function<bool(const std::string& temporary)>& write);

}  // namespace lumet::cli
