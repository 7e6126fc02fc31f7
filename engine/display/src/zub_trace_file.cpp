#include "zub_trace_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <sstream>

#include "zub_display.h"

namespace {

class scoped_fd {
public:
    explicit scoped_fd(int fd) : fd_(fd) {}
    ~scoped_fd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    scoped_fd(const scoped_fd&) = delete;
    scoped_fd& operator=(const scoped_fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

// Up to `limit` bytes of a regular file, from its start; `expected` (its size when asked) only
// sizes the first allocation, as a file may grow meanwhile or tell no size at all.
std::string read_up_to(int fd, size_t limit, size_t expected)
{
    constexpr size_t kChunk = 64 * 1024;
    std::string text;
    text.reserve(std::min(limit, expected + 1));
    while (text.size() < limit) {
        const size_t at = text.size();
        text.resize(std::min(limit, at + kChunk));
        const ssize_t n = ::read(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) {
            text.resize(at);
            continue;
        }
        text.resize(at + (n > 0 ? static_cast<size_t>(n) : 0));
        if (n <= 0) {
            break;
        }
    }
    return text;
}

bool is_blank(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

trace_file_read zub_read_trace_file(const std::string& path)
{
    trace_file_read out;
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    scoped_fd fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (fd.get() < 0) {
        return out;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return out;
    }
    out.type = st.st_mode & S_IFMT;
    if (!S_ISREG(st.st_mode)) {
        out.result = trace_file_result::not_regular;
        return out;
    }
    out.result = trace_file_result::read;
    // One byte past the bound tells whether the last id read runs on beyond it.
    const size_t size = st.st_size > 0 ? static_cast<size_t>(st.st_size) : 0;
    std::string text = read_up_to(fd.get(), ZUB_TRACE_FILE_MAX_BYTES + 1, size);
    if (text.size() > ZUB_TRACE_FILE_MAX_BYTES) {
        const bool cut_in_token = !is_blank(text[ZUB_TRACE_FILE_MAX_BYTES]);
        text.resize(ZUB_TRACE_FILE_MAX_BYTES);
        if (cut_in_token) {
            while (!text.empty() && !is_blank(text.back())) {
                text.pop_back();
            }
        }
    }
    std::istringstream in(std::move(text));
    out.ids = zub_parse_trace_ids(in);
    return out;
}

const char* zub_file_type_name(mode_t type)
{
    switch (type & S_IFMT) {
    case S_IFREG: return "regular file";
    case S_IFIFO: return "fifo";
    case S_IFCHR: return "character device";
    case S_IFBLK: return "block device";
    case S_IFDIR: return "directory";
    case S_IFSOCK: return "socket";
    case S_IFLNK: return "symbolic link";
    default: return "file of unknown type";
    }
}
