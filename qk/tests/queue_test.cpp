// The locked queue: link invariants after every step, blocking poll, and many threads.
#include "qk_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

// Walks the list both ways and checks it against count, head and tail.
::testing::AssertionResult valid(const queue_t& q) {
    int n = 0;
    const node_t* prev = nullptr;
    for (const node_t* node = q.head; node != nullptr; node = node->next) {
        if (node->prev != prev) {
            return ::testing::AssertionFailure() << "broken prev link at position " << n;
        }
        prev = node;
        if (++n > q.count + 1) {
            return ::testing::AssertionFailure() << "list longer than count " << q.count;
        }
    }
    if (prev != q.tail) {
        return ::testing::AssertionFailure() << "tail is not the last node";
    }
    if (n != q.count) {
        return ::testing::AssertionFailure() << "count " << q.count << " but " << n << " nodes";
    }
    return ::testing::AssertionSuccess();
}

std::vector<uint32_t> keys(const queue_t& q) {
    std::vector<uint32_t> out;
    for (const node_t* node = q.head; node != nullptr; node = node->next) {
        out.push_back(node->key);
    }
    return out;
}

class qk_queue : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(qk_queue_init(&q_), 1);
        for (uint32_t i = 0; i < 5; ++i) {
            nodes_[i] = node_t{nullptr, nullptr, i};
        }
    }
    void push(std::initializer_list<int> which) {
        for (int i : which) {
            qk_queue_push(&q_, &nodes_[i]);
            ASSERT_TRUE(valid(q_));
        }
    }
    queue_t q_{};
    node_t nodes_[5]{};
};

TEST_F(qk_queue, InitRejectsNullAndStartsEmpty) {
    EXPECT_EQ(qk_queue_init(nullptr), -1);
    EXPECT_EQ(q_.head, nullptr);
    EXPECT_EQ(q_.tail, nullptr);
    EXPECT_EQ(q_.count, 0);
}

TEST_F(qk_queue, PushAppendsAndPollTakesTheHead) {
    push({0, 1, 2});
    EXPECT_EQ(keys(q_), (std::vector<uint32_t>{0, 1, 2}));
    EXPECT_EQ(nodes_[0].prev, nullptr);
    EXPECT_EQ(nodes_[2].next, nullptr);

    EXPECT_EQ(qk_queue_poll(&q_, 0), &nodes_[0]);
    EXPECT_TRUE(valid(q_));
    EXPECT_EQ(nodes_[0].next, &nodes_[1]); // the taken node's links stay as they were
    EXPECT_EQ(qk_queue_poll(&q_, 0), &nodes_[1]);
    EXPECT_EQ(qk_queue_poll(&q_, 1), &nodes_[2]);
    EXPECT_TRUE(valid(q_));
    EXPECT_EQ(q_.head, nullptr);
    EXPECT_EQ(q_.tail, nullptr);
    EXPECT_EQ(qk_queue_poll(&q_, 0), nullptr);

    qk_queue_push(nullptr, &nodes_[3]);
    qk_queue_push(&q_, nullptr);
    EXPECT_EQ(q_.count, 0);
    EXPECT_EQ(qk_queue_poll(nullptr, 0), nullptr);
}

TEST_F(qk_queue, BlockingPollReturnsANodePushedLater) {
    // Taken before the pusher exists: its 50-ms sleep then lies wholly after it, however late
    // this thread runs again.
    const auto start = std::chrono::steady_clock::now();
    std::thread pusher([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        qk_queue_push(&q_, &nodes_[4]);
    });
    EXPECT_EQ(qk_queue_poll(&q_, 1), &nodes_[4]);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(40));
    pusher.join();
    EXPECT_TRUE(valid(q_));
}

TEST_F(qk_queue, InsertBeforeHeadAndBeforeAMiddleNode) {
    push({0, 2});
    qk_queue_insert(&q_, &nodes_[0], &nodes_[3]);
    ASSERT_TRUE(valid(q_));
    EXPECT_EQ(q_.head, &nodes_[3]);
    qk_queue_insert(&q_, &nodes_[2], &nodes_[1]);
    ASSERT_TRUE(valid(q_));
    EXPECT_EQ(keys(q_), (std::vector<uint32_t>{3, 0, 1, 2}));
    EXPECT_EQ(q_.tail, &nodes_[2]);

    qk_queue_insert(nullptr, &nodes_[0], &nodes_[4]);
    qk_queue_insert(&q_, nullptr, &nodes_[4]);
    qk_queue_insert(&q_, &nodes_[0], nullptr);
    EXPECT_TRUE(valid(q_));
    EXPECT_EQ(q_.count, 4);
}

TEST_F(qk_queue, DetachHeadMiddleTailAndOnly) {
    push({0, 1, 2, 3});
    qk_queue_detach(&q_, &nodes_[1]);
    ASSERT_TRUE(valid(q_));
    EXPECT_EQ(nodes_[1].prev, nullptr);
    EXPECT_EQ(nodes_[1].next, nullptr);
    qk_queue_detach(&q_, &nodes_[0]);
    ASSERT_TRUE(valid(q_));
    qk_queue_detach(&q_, &nodes_[3]);
    ASSERT_TRUE(valid(q_));
    EXPECT_EQ(keys(q_), (std::vector<uint32_t>{2}));
    qk_queue_detach(&q_, &nodes_[2]);
    ASSERT_TRUE(valid(q_));
    EXPECT_EQ(q_.head, nullptr);
    EXPECT_EQ(q_.tail, nullptr);
    EXPECT_EQ(q_.count, 0);
}

TEST_F(qk_queue, DetachOfAnUnlinkedNodeChangesNothing) {
    qk_queue_detach(&q_, &nodes_[0]); // empty queue
    EXPECT_TRUE(valid(q_));
    push({0, 1});
    qk_queue_detach(&q_, &nodes_[4]); // never linked
    qk_queue_detach(&q_, &nodes_[1]);
    qk_queue_detach(&q_, &nodes_[1]); // twice
    qk_queue_detach(&q_, nullptr);
    qk_queue_detach(nullptr, &nodes_[0]);
    ASSERT_TRUE(valid(q_));
    EXPECT_EQ(keys(q_), (std::vector<uint32_t>{0}));
}

TEST(qk_queue_memory, FreesHeapNodesAndReportsTheCount) {
    queue_t q{};
    ASSERT_EQ(qk_queue_init(&q), 1);
    for (uint32_t i = 0; i < 3; ++i) {
        auto* node = static_cast<node_t*>(std::calloc(1, sizeof(node_t)));
        node->key = i;
        qk_queue_push(&q, node);
    }
    EXPECT_EQ(qk_queue_free(&q), 1);
    EXPECT_EQ(q.head, nullptr);
    EXPECT_EQ(q.count, 0);
    EXPECT_EQ(qk_queue_free(&q), 1); // empty
    EXPECT_EQ(qk_queue_free(nullptr), -1);

    qk_queue_push(&q, static_cast<node_t*>(std::calloc(1, sizeof(node_t))));
    q.count = 3; // a count that disagrees with the list is reported
    EXPECT_EQ(qk_queue_free(&q), -1);
    EXPECT_TRUE(valid(q));
}

struct Item {
    node_t link; // first, as every queued record
    uint32_t producer;
};

TEST(qk_queue_threads, FourProducersFourConsumersDeliverEveryNodeOnce) {
    constexpr int kProducers = 4;
    constexpr int kConsumers = 4;
    constexpr uint32_t kPerProducer = 20000;
    constexpr uint32_t kStop = 0xFFFFFFFF;
    queue_t q{};
    ASSERT_EQ(qk_queue_init(&q), 1);

    std::vector<Item> items(kProducers * kPerProducer);
    std::vector<Item> stops(kConsumers);
    std::vector<std::atomic<int>> seen(items.size());
    std::atomic<int> foreign{0};

    std::vector<std::thread> consumers;
    for (int c = 0; c < kConsumers; ++c) {
        consumers.emplace_back([&, c] {
            for (;;) {
                // Half the consumers spin on the non-blocking poll to mix both paths.
                node_t* node = qk_queue_poll(&q, c % 2 == 0 ? 1 : 0);
                if (node == nullptr) {
                    std::this_thread::yield();
                    continue;
                }
                if (node->key == kStop) {
                    return;
                }
                if (node->key >= items.size()) {
                    foreign.fetch_add(1);
                    continue;
                }
                seen[node->key].fetch_add(1);
            }
        });
    }
    std::vector<std::thread> producers;
    for (int p = 0; p < kProducers; ++p) {
        producers.emplace_back([&, p] {
            for (uint32_t i = 0; i < kPerProducer; ++i) {
                Item& item = items[p * kPerProducer + i];
                item.link.key = p * kPerProducer + i;
                item.producer = static_cast<uint32_t>(p);
                qk_queue_push(&q, &item.link);
            }
        });
    }
    for (auto& t : producers) {
        t.join();
    }
    for (auto& stop : stops) {
        stop.link.key = kStop;
        qk_queue_push(&q, &stop.link);
    }
    for (auto& t : consumers) {
        t.join();
    }
    EXPECT_EQ(foreign.load(), 0);
    int missing = 0;
    int duplicated = 0;
    for (const auto& s : seen) {
        missing += s.load() == 0 ? 1 : 0;
        duplicated += s.load() > 1 ? 1 : 0;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(duplicated, 0);
    EXPECT_EQ(q.count, 0);
    EXPECT_TRUE(valid(q));
}

} // namespace
