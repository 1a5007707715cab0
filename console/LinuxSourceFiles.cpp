#include "console/LinuxSourceFiles.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

SourceFiles::Result LinuxSourceFiles::Read(const std::string& path, size_t limit, std::string& data,
                                           std::string& why) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        why = std::strerror(errno);
        return errno == ENOENT ? Result::Missing : Result::Failed;
    }
    struct stat info;
    Result result = Result::Read;
    if (::fstat(fd, &info) != 0) {
        why = std::strerror(errno);
        result = Result::Failed;
    } else if (!S_ISREG(info.st_mode)) {
        why = "it is not a regular file";
        result = Result::Failed;
    }
    data.assign(limit + 1, '\0');
    size_t length = 0;
    while (result == Result::Read && length < data.size()) {
        const ssize_t got = ::read(fd, &data[length], data.size() - length);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            why = std::strerror(errno);
            result = Result::Failed;
        }
        if (got <= 0) break;
        length += static_cast<size_t>(got);
    }
    data.resize(length);
    ::close(fd);
    return result;
}
