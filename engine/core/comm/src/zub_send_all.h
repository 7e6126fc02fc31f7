// zub_send_all.h - writing one whole message to a stream socket without waiting for room first.
//
// Stateless; any thread. Used by the anchor sends.
#pragma once

#include <cstddef>

#include "VorlenTypes.h"

// Writes the `len` bytes of one message (without SIGPIPE) and never waits while the socket takes
// nothing: then 0 is returned with errno EAGAIN. Once the socket has taken part of the message,
// the rest belongs to it, so room for the rest is waited for (POLLOUT) until `rest_timeout_ms`
// has passed. The bytes written: `len` on success; fewer with errno set on an error, and with
// errno EAGAIN when the rest found no room in time.
size_t zub_send_all(int sock, const BYTE* buf, size_t len, int rest_timeout_ms);
