// zub_pending_bytes.h - the bytes a non-blocking stream socket has not taken yet, for one
// connection. They go out, in order, before anything sent later, so a peer that reads slowly
// never sees a cut message and its sender never waits; the caller bounds them.
//
// The socket is reached through a send function: one non-blocking send, returning the bytes
// taken or -1 with errno set. Used by the display job's report clients and by the controller's
// replies. Threads: the owner's (one thread, or the owner's lock around every call).
#pragma once

#include <sys/types.h>

#include <cerrno>
#include <cstddef>
#include <vector>

#include "VorlenTypes.h"

class PendingBytes {
public:
    enum class Result {
        sent,      // every byte went out
        kept,      // what the socket did not take is kept
        failed,    // the send failed other than for want of room (errno set; nothing of it kept)
        overflow,  // the bytes kept would have passed the limit (nothing of it kept)
    };

    size_t size() const { return bytes_.size() - head_; }
    // Forgets the bytes and gives their memory back.
    void clear();

    // Writes what the socket takes of the bytes kept; false (errno set, the bytes kept) when the
    // send failed other than for want of room. Once all went, their memory is given back.
    template <class Send>
    bool push(Send send)
    {
        const ssize_t n = send_until_full(bytes_.data() + head_, size(), send);
        if (n < 0) {
            return false;
        }
        head_ += static_cast<size_t>(n);
        if (size() == 0) {
            clear();
        }
        return true;
    }

    // The bytes kept first, then as much of `data` as the socket takes now; the rest is kept
    // unless the bytes kept would then pass `limit`.
    template <class Send>
    Result send(const BYTE* data, size_t len, size_t limit, Send send)
    {
        if (!push(send)) {
            return Result::failed;
        }
        size_t done = 0;
        if (size() == 0) {
            const ssize_t n = send_until_full(data, len, send);
            if (n < 0) {
                return Result::failed;
            }
            done = static_cast<size_t>(n);
        }
        if (done == len) {
            return Result::sent;
        }
        if (size() + (len - done) > limit) {
            return Result::overflow;
        }
        append(data + done, len - done);
        return Result::kept;
    }

private:
    // Sends until the socket takes no more: the bytes taken, or -1 when a send failed other
    // than for want of room.
    template <class Send>
    static ssize_t send_until_full(const BYTE* data, size_t len, Send& send)
    {
        size_t done = 0;
        while (done < len) {
            const ssize_t n = send(data + done, len - done);
            if (n > 0) {
                done += static_cast<size_t>(n);
            } else if (n == 0 || errno == EAGAIN || errno == EWOULDBLOCK) {
                break;
            } else if (errno != EINTR) {
                return -1;
            }
        }
        return static_cast<ssize_t>(done);
    }

    void append(const BYTE* data, size_t len);

    std::vector<BYTE> bytes_;
    size_t head_ = 0;  // bytes of bytes_ already sent
};
