// qk.h - the whole libqk interface.
#pragma once

#include "qk_md5.h"
#include "qk_memory.h"
#include "qk_queue.h"
#include "qk_reactor.h"
#include "qk_socket.h"
#include "qk_string.h"
#include "qk_thread.h"
#include "qk_util.h"
