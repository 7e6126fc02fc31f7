#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "oms_link_manager.h"

namespace {

// A counted object standing in for a link: freed by its last release.
struct FakeLink {
    explicit FakeLink(std::atomic<int>* freed) : freed_(freed) {}
    void add_reference() { refs.fetch_add(1); }
    void remove_reference() {
        if (refs.fetch_sub(1) == 1) {
            freed_->fetch_add(1);
            delete this;
        }
    }
    void use() { uses.fetch_add(1); } // touches the object; ASan reports a use after free
    std::atomic<int> refs{1};
    std::atomic<int> uses{0};
    std::atomic<int>* freed_;
};

using Map = OmsLinkMap<FakeLink>;

TEST(OmsLinkMap, SecondBindOfAModuleIsRefusedAndTheFirstStays) {
    std::atomic<int> freed{0};
    auto* a = new FakeLink(&freed);
    auto* b = new FakeLink(&freed);
    Map map;
    EXPECT_TRUE(map.bind(12, a));
    EXPECT_FALSE(map.bind(12, b));
    EXPECT_FALSE(map.unbind(12, b)) << "the refused link must not unbind the first";
    EXPECT_EQ(map.find(12).get(), a);
    EXPECT_TRUE(map.unbind(12, a));
    EXPECT_FALSE(map.find(12));
    a->remove_reference();
    b->remove_reference();
    EXPECT_EQ(freed.load(), 2);
}

TEST(OmsLinkMap, ModuleZeroBindsUnbindsAndBindsAgain) {
    std::atomic<int> freed{0};
    auto* first = new FakeLink(&freed);
    auto* second = new FakeLink(&freed);
    Map map;
    EXPECT_TRUE(map.bind(0, first));
    EXPECT_TRUE(map.unbind(0, first));
    EXPECT_EQ(map.total_size(), 0u);
    EXPECT_TRUE(map.bind(0, second));
    EXPECT_EQ(map.find(0).get(), second);
    first->remove_reference();
    second->remove_reference();
}

TEST(OmsLinkMap, FoundLinkOutlivesItsUnbindAndRelease) {
    std::atomic<int> freed{0};
    auto* link = new FakeLink(&freed);
    Map map;
    map.bind(3, link);
    {
        LinkHold<FakeLink> held = map.find(3);
        ASSERT_TRUE(held);
        EXPECT_TRUE(map.unbind(3, link));
        link->remove_reference(); // the owner lets go while the finder still holds it
        EXPECT_EQ(freed.load(), 0);
        held->use();
    }
    EXPECT_EQ(freed.load(), 1);
}

TEST(OmsLinkMap, LookupsRacingWithCloseNeverTouchAFreedLink) {
    std::atomic<int> freed{0};
    Map map;
    std::atomic<bool> stop{false};
    std::thread finder([&] {
        while (!stop.load()) {
            if (LinkHold<FakeLink> held = map.find(5)) {
                held->use();
            }
        }
    });
    for (int i = 0; i < 20000; ++i) {
        auto* link = new FakeLink(&freed);
        ASSERT_TRUE(map.bind(5, link));
        ASSERT_TRUE(map.unbind(5, link));
        link->remove_reference();
    }
    stop = true;
    finder.join();
    EXPECT_EQ(freed.load(), 20000);
    EXPECT_EQ(map.total_size(), 0u);
}

} // namespace
