// CNTraceFile.cpp - the trace file's descriptor and its whole writes.
#include "trace/CNTraceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

// Linux takes at most this many pieces in one writev (UIO_MAXIOV).
constexpr int kMaxPieces = 1024;

} // namespace

bool CNTraceFile::open(const char* name, bool truncate) {
    close();
    if (name == nullptr) {
        return false;
    }
    const int flags = O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | (truncate ? O_TRUNC : 0);
    int fd;
    do {
        fd = ::open(name, flags, 0666);
    } while (fd < 0 && errno == EINTR);
    fd_ = fd;
    failed_ = false;
    return fd_ >= 0;
}

void CNTraceFile::close() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
    fd_ = -1;
    failed_ = false;
}

long long CNTraceFile::size() const {
    struct stat st;
    if (fd_ < 0 || ::fstat(fd_, &st) != 0) {
        return -1;
    }
    return static_cast<long long>(st.st_size);
}

size_t CNTraceFile::write_all(struct iovec* pieces, int count) {
    if (!good()) {
        return 0;
    }
    size_t total = 0;
    while (count > 0) {
        if (pieces->iov_len == 0) {
            ++pieces;
            --count;
            continue;
        }
        const ssize_t n = ::writev(fd_, pieces, count > kMaxPieces ? kMaxPieces : count);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            failed_ = true;
            return total;
        }
        if (n == 0) {
            failed_ = true;
            return total;
        }
        total += static_cast<size_t>(n);
        // Step over what went out; a short write continues inside the piece it stopped in.
        size_t left = static_cast<size_t>(n);
        while (count > 0 && left >= pieces->iov_len) {
            left -= pieces->iov_len;
            ++pieces;
            --count;
        }
        if (count > 0) {
            pieces->iov_base = static_cast<char*>(pieces->iov_base) + left;
            pieces->iov_len -= left;
        }
    }
    return total;
}

size_t CNTraceFile::write_all(const char* data, size_t len) {
    struct iovec piece = {const_cast<char*>(data), len};
    return write_all(&piece, 1);
}
