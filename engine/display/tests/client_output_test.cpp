// Pending bytes per client: a client that stops reading never gets a cut frame, catches up
// when it reads again, and is closed when its queue would overflow, while the others get
// every frame.
#include <gtest/gtest.h>

#include "display_fakes.h"

namespace {

using dt::Bytes;
using S = display_stream;

Bytes frame(BYTE n)
{
    Bytes f(33, n);
    f.front() = 0xA8;
    f.back() = 0xA8;
    return f;
}

Bytes frames(BYTE from, BYTE to)
{
    Bytes out;
    for (BYTE n = from; n <= to; ++n) {
        const Bytes f = frame(n);
        out.insert(out.end(), f.begin(), f.end());
    }
    return out;
}

TEST(engine_display_ClientOutput, ASlowClientCatchesUpWithWholeFramesAndOverflowCloses)
{
    dt::print_capture prints;
    dt::fake_clients clients;
    auto& fast = clients.add(S::tag_loc, 0, 10);
    auto& slow = clients.add(S::tag_loc, 1, 11);
    slow.room = 50;  // one frame and 17 bytes of the next
    client_output out(clients, 100);

    for (BYTE n = 1; n <= 4; ++n) {
        const Bytes f = frame(n);
        out.send_all(S::tag_loc, f.data(), f.size());
    }
    // 4 x 33 = 132 bytes: 50 taken, 82 queued (within the 100-byte limit).
    EXPECT_EQ(fast.received, frames(1, 4));
    const Bytes all4 = frames(1, 4);
    EXPECT_EQ(slow.received, Bytes(all4.begin(), all4.begin() + 50));
    EXPECT_EQ(out.pending(S::tag_loc, 1), 82u);

    // It reads again: the next tick sends the queue in order before anything new.
    slow.room = SIZE_MAX;
    out.drain(S::tag_loc);
    EXPECT_EQ(slow.received, frames(1, 4));
    EXPECT_EQ(out.pending(S::tag_loc, 1), 0u);

    // It stops for good: 3 frames queue (99 bytes), the 4th would pass the limit.
    slow.room = 0;
    for (BYTE n = 5; n <= 8; ++n) {
        const Bytes f = frame(n);
        out.send_all(S::tag_loc, f.data(), f.size());
    }
    EXPECT_EQ(fast.received, frames(1, 8));
    ASSERT_EQ(clients.removed.size(), 1u);
    EXPECT_EQ(clients.removed[0], (std::pair<S, int>{S::tag_loc, 11}));
    EXPECT_FALSE(clients.removed_inside_walk);
    EXPECT_EQ(out.pending(S::tag_loc, 1), 0u);
    EXPECT_EQ(prints.count_of("client sock 11 stopped reading: 100 bytes queued, closed"), 1u);
}

TEST(engine_display_ClientOutput, QueuesBelongToOneConnection)
{
    struct Row {
        const char* name;
        int errno_value;       // the failing send's error (0: the client is just slow)
        bool reconnect;   // another connection takes the slot before the next frame
    };
    const Row rows[] = {
        {"send error drops the bytes", EPIPE, false},
        {"a new connection in the slot gets no old bytes", 0, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        dt::fake_clients clients;
        auto& c = clients.add(S::dsply, 4, 20);
        c.room = 10;
        c.fail_errno = r.errno_value;
        client_output out(clients, 1000);
        const Bytes f1 = frame(1);
        out.send_all(S::dsply, f1.data(), f1.size());
        EXPECT_EQ(out.pending(S::dsply, 4), r.errno_value == 0 ? 23u : 0u);
        if (r.reconnect) {
            clients.drop(S::dsply, 20);
            clients.add(S::dsply, 4, 20, 2);
        }
        auto& now = clients.at(S::dsply, 0);
        now.room = SIZE_MAX;
        now.fail_errno = 0;
        now.received.clear();
        const Bytes f2 = frame(2);
        out.send_all(S::dsply, f2.data(), f2.size());
        // Only the new frame, whole: nothing left over from the failed or earlier connection.
        EXPECT_EQ(now.received, frame(2));
        EXPECT_TRUE(clients.removed.empty());
    }
}

TEST(engine_display_ClientOutput, AQueueIsDroppedWhenItsSlotEmpties)
{
    dt::fake_clients clients;
    auto& c = clients.add(S::tag_ext, 2, 30);
    c.room = 5;
    client_output out(clients, 1000);
    const Bytes f = frame(7);
    out.send_all(S::tag_ext, f.data(), f.size());
    EXPECT_EQ(out.pending(S::tag_ext, 2), 28u);
    clients.drop(S::tag_ext, 30);
    out.drain(S::tag_ext);
    EXPECT_EQ(out.pending(S::tag_ext, 2), 0u);
}

}  // namespace
