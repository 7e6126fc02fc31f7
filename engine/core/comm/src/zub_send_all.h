// zub_send_all.h - writing a whole buffer to a stream socket within a time limit.
//
// Stateless; any thread. Used by the anchor and controller sends.
#pragma once

#include <cstddef>

#include "VorlenTypes.h"

// Writes all `len` bytes (without SIGPIPE), going on after short writes, waiting for room
// (POLLOUT) while a non-blocking socket is full. True once every byte is written; false with
// errno set on an error, and with errno EAGAIN when `timeout_ms` passed first.
bool zub_send_all(int sock, const BYTE* buf, size_t len, int timeout_ms);

// Limits how long one blocking send on `sock` may wait for room (SO_SNDTIMEO); 0 or -1.
int zub_socket_send_timeout(int sock, int timeout_ms);
