// The red-black tree: invariants after every insert and erase, erase against std::map,
// pre-order iteration, lookups, and the shared sentinel left untouched by trees on many
// threads.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "rb_tree.h"

namespace {

struct Item {
    explicit Item(unsigned long key) : id(key) {}
    unsigned long id;
};

using Tree = RBTree<unsigned long, Item>;

// Trees never free their nodes; keeping every test tree reachable until exit keeps the
// leak checker quiet about what the tree is meant to keep.
Tree& new_tree()
{
    static auto* const trees = new std::deque<Tree>;  // never destroyed
    static std::mutex guard;
    std::lock_guard<std::mutex> lock(guard);
    return trees->emplace_back();
}

std::vector<unsigned long> preorder(const Tree& t)
{
    std::vector<unsigned long> keys;
    for (auto it = t.begin(); it; ++it) {
        keys.push_back(it->id);
    }
    return keys;
}

void insert_all(Tree& t, const std::vector<unsigned long>& keys)
{
    for (unsigned long k : keys) {
        ASSERT_NE(t.insert_key(k), nullptr) << k;
        ASSERT_EQ(t.validate(), nullptr) << "after inserting " << k;
    }
}

// One step of an insert/erase sequence: a positive number inserts that key, a negative one
// erases its absolute value.
using Steps = std::vector<long>;

// Applies each step to the tree and to a std::map, and checks after each that the tree keeps
// its invariants, answers as the map does and holds the map's keys.
void run_against_map(Tree& t, const Steps& steps)
{
    std::map<unsigned long, Item*> model;
    for (long step : steps) {
        const auto key = static_cast<unsigned long>(step < 0 ? -step : step);
        SCOPED_TRACE(testing::Message() << "step " << step);
        if (step >= 0) {
            Item* v = t.insert_key(key);
            ASSERT_EQ(v != nullptr, model.count(key) == 0);
            if (v != nullptr) {
                model[key] = v;
            }
        } else {
            ASSERT_EQ(t.erase_key(key), model.erase(key) == 1);
        }
        ASSERT_EQ(t.validate(), nullptr);
        ASSERT_EQ(t.count, model.size());
        std::vector<unsigned long> keys = preorder(t);
        std::sort(keys.begin(), keys.end());
        std::vector<unsigned long> expected;
        for (const auto& [k, v] : model) {
            expected.push_back(k);
            ASSERT_EQ(t.find_key(k), v) << k;  // other values never move
        }
        ASSERT_EQ(keys, expected);
        ASSERT_EQ(t.find_key(key), model.count(key) != 0 ? model[key] : nullptr);
    }
}

Steps ascending(long from, long to, long sign = 1)
{
    Steps s;
    for (long k = from; from <= to ? k <= to : k >= to; k += from <= to ? 1 : -1) {
        s.push_back(sign * k);
    }
    return s;
}

Steps operator+(Steps a, const Steps& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(engine_core_RBTree, EmptyTreeFindsNothingAndIteratesNothing)
{
    Tree& t = new_tree();
    EXPECT_EQ(t.count, 0u);
    EXPECT_EQ(t.Root, Tree::Node::Nil());
    EXPECT_EQ(t.find_key(7), nullptr);
    EXPECT_FALSE(static_cast<bool>(t.begin()));
    EXPECT_TRUE(preorder(t).empty());
    EXPECT_EQ(t.validate(), nullptr);
}

TEST(engine_core_RBTree, OneNodeTreeVisitsOneValue)
{
    Tree& t = new_tree();
    Item* v = t.insert_key(42);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->id, 42u);
    EXPECT_EQ(t.find_key(42), v);
    EXPECT_EQ(preorder(t), (std::vector<unsigned long>{42}));
    EXPECT_EQ(t.Root->color, Black);
}

TEST(engine_core_RBTree, DuplicateInsertReturnsNullAndChangesNothing)
{
    Tree& t = new_tree();
    Item* first = t.insert_key(5);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(t.insert_key(5), nullptr);
    EXPECT_EQ(t.count, 1u);
    EXPECT_EQ(t.find_key(5), first);
    EXPECT_EQ(t.validate(), nullptr);
}

TEST(engine_core_RBTree, PreorderOfTwoOneThreeIsTwoOneThree)
{
    Tree& t = new_tree();
    insert_all(t, {2, 1, 3});
    EXPECT_EQ(t.Root->data->id, 2u);
    EXPECT_EQ(preorder(t), (std::vector<unsigned long>{2, 1, 3}));
}

// Worked by hand through the insertion repair: 1..10 ascending ends as
// 4B(2B(1B,3B), 6B(5B, 8R(7B, 9B(-,10R)))).
TEST(engine_core_RBTree, PreorderOfOneToTenAscending)
{
    Tree& t = new_tree();
    std::vector<unsigned long> keys(10);
    std::iota(keys.begin(), keys.end(), 1ul);
    insert_all(t, keys);
    EXPECT_EQ(preorder(t), (std::vector<unsigned long>{4, 2, 1, 3, 6, 5, 8, 7, 9, 10}));
    EXPECT_EQ(t.find_key(8)->id, 8u);
    auto* eight = t.Root->right->right;
    EXPECT_EQ(eight->data->id, 8u);
    EXPECT_EQ(eight->color, Red);
    EXPECT_EQ(eight->right->right->color, Red);  // 10
}

TEST(engine_core_RBTree, AscendingThousandAllFoundRootBlack)
{
    Tree& t = new_tree();
    for (unsigned long k = 1; k <= 1000; ++k) {
        ASSERT_NE(t.insert_key(k), nullptr);
    }
    ASSERT_EQ(t.validate(), nullptr);
    EXPECT_EQ(t.Root->color, Black);
    EXPECT_EQ(t.count, 1000u);
    for (unsigned long k = 1; k <= 1000; ++k) {
        ASSERT_NE(t.find_key(k), nullptr) << k;
        EXPECT_EQ(t.find_key(k)->id, k);
    }
    EXPECT_EQ(t.find_key(0), nullptr);
    EXPECT_EQ(t.find_key(1001), nullptr);
    EXPECT_EQ(preorder(t).size(), 1000u);
}

TEST(engine_core_RBTree, RandomInsertsKeepInvariantsAndPreorderVisitsEachKeyOnce)
{
    std::mt19937_64 rng(20240601);
    Tree& t = new_tree();
    std::vector<unsigned long> inserted;
    for (int i = 0; i < 3000; ++i) {
        const unsigned long k = rng() % 5000;  // duplicates on purpose
        const bool fresh = std::find(inserted.begin(), inserted.end(), k) == inserted.end();
        Item* v = t.insert_key(k);
        ASSERT_EQ(v != nullptr, fresh) << k;
        if (fresh) {
            inserted.push_back(k);
        }
        ASSERT_EQ(t.validate(), nullptr) << "after inserting " << k;
    }
    EXPECT_EQ(t.count, inserted.size());
    auto visited = preorder(t);
    ASSERT_EQ(visited.size(), inserted.size());
    EXPECT_EQ(visited.front(), t.Root->data->id);  // pre-order starts at the root
    std::sort(visited.begin(), visited.end());
    std::sort(inserted.begin(), inserted.end());
    EXPECT_EQ(visited, inserted);
    for (unsigned long k = 0; k < 5000; ++k) {
        const bool present = std::binary_search(inserted.begin(), inserted.end(), k);
        EXPECT_EQ(t.find_key(k) != nullptr, present) << k;
    }
}

TEST(engine_core_RBTree, EraseSequencesAgreeWithAMap)
{
    struct Row {
        const char* name;
        Steps steps;
    };
    std::mt19937_64 rng(20250117);
    Steps random;
    for (int i = 0; i < 4000; ++i) {
        const auto k = static_cast<long>(rng() % 300) + 1;
        random.push_back(rng() % 5 < 3 ? k : -k);  // more inserts than erases: the tree grows
    }
    const Row rows[] = {
        {"erase from an empty tree", {-1}},
        {"erase an absent key", {2, 1, 3, -4, -0}},
        {"erase the only node", {5, -5, -5}},
        {"red leaf", {2, 1, 3, 4, -4}},
        {"black leaf, sibling's far child red", {2, 1, 3, 4, -1}},
        {"black leaf, sibling's near child red", {2, 1, 4, 3, -1}},
        {"black leaf, red sibling", {1, 2, 3, 4, 5, 6, -1}},
        {"root with two children", {2, 1, 3, -2, -1, -3}},
        {"one to ten, then erased ascending", ascending(1, 10) + ascending(1, 10, -1)},
        {"one to ten, then erased descending", ascending(1, 10) + ascending(10, 1, -1)},
        {"always the root", {8, 4, 12, 2, 6, 10, 14, 1, 3, 5, 7, 9, 11, 13, 15, -8, -9, -10, -11, -7, -12}},
        {"erased and inserted again", {3, 1, 2, -2, 2, -1, 1, -3, 3}},
        {"random, seed 20250117", random},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        run_against_map(new_tree(), r.steps);
    }
}

// 1..10 ascending is 4B(2B(1B,3B), 6B(5B, 8R(7B, 9B(-,10R)))). Erasing 6 moves its successor
// 7, a black leaf, into its place; the extra black at 8's left has a black sibling 9 whose far
// child 10 is red: 9 takes 8's red, 8 and 10 turn black, 8 rotates left under 9.
TEST(engine_core_RBTree, EraseOfSixFromOneToTenByHand)
{
    Tree& t = new_tree();
    insert_all(t, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
    ASSERT_TRUE(t.erase_key(6));
    ASSERT_EQ(t.validate(), nullptr);
    EXPECT_EQ(preorder(t), (std::vector<unsigned long>{4, 2, 1, 3, 7, 5, 9, 8, 10}));
    auto* seven = t.Root->right;
    EXPECT_EQ(seven->color, Black);
    EXPECT_EQ(seven->right->data->id, 9u);
    EXPECT_EQ(seven->right->color, Red);
    EXPECT_EQ(seven->right->left->color, Black);   // 8
    EXPECT_EQ(seven->right->right->color, Black);  // 10
    EXPECT_EQ(t.find_key(6), nullptr);
    EXPECT_EQ(t.count, 9u);
}

TEST(engine_core_RBTree, ExtremeKeysOrderAsUnsigned)
{
    Tree& t = new_tree();
    insert_all(t, {0xFFFFFFFFFFFFFFFFul, 0, 0x8000000000000000ul, 1});
    EXPECT_NE(t.find_key(0xFFFFFFFFFFFFFFFFul), nullptr);
    EXPECT_NE(t.find_key(0), nullptr);
    EXPECT_EQ(t.find_key(2), nullptr);
}

TEST(engine_core_RBIterator, PostfixReturnsPositionBeforeAdvancingAndEndIsSticky)
{
    Tree& t = new_tree();
    insert_all(t, {2, 1, 3});
    auto it = t.begin();
    auto before = it++;
    EXPECT_EQ(before->id, 2u);
    EXPECT_EQ(it->id, 1u);
    auto copy = it;  // copies node and stack
    ++it;
    ++it;
    EXPECT_FALSE(static_cast<bool>(it));
    ++it;  // stays at the end
    EXPECT_FALSE(static_cast<bool>(it));
    EXPECT_EQ(copy->id, 1u);
    ++copy;
    EXPECT_EQ(static_cast<Item*>(copy)->id, 3u);
}

// Eighteen selectors grow and shrink their own tag trees at once; they share only the
// sentinel, which no insert or erase may write (checked by validate and by the thread
// sanitizer build).
TEST(engine_core_RBTree, TreesOnManyThreadsShareAnUntouchedSentinel)
{
    constexpr int kThreads = 18;
    std::vector<Tree*> trees;
    for (int i = 0; i < kThreads; ++i) {
        trees.push_back(&new_tree());
    }
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([i, &trees] {
            std::mt19937_64 rng(i);
            std::vector<unsigned long> keys;
            for (int n = 0; n < 3000; ++n) {
                keys.push_back(rng());
                trees[i]->insert_key(keys.back());
            }
            for (int n = 0; n < 1000; ++n) {
                trees[i]->erase_key(keys[static_cast<size_t>(n) * 3]);
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (Tree* t : trees) {
        EXPECT_EQ(t->validate(), nullptr);
        EXPECT_EQ(t->count, 2000u);
    }
    auto* nil = Tree::Node::Nil();
    EXPECT_EQ(nil->parent, nullptr);
    EXPECT_EQ(nil->left, nullptr);
    EXPECT_EQ(nil->right, nullptr);
    EXPECT_EQ(nil->color, Black);
}

TEST(engine_core_RBTree, ValidateCatchesABrokenTree)
{
    Tree& t = new_tree();
    insert_all(t, {2, 1, 3});
    t.Root->left->color = Red;
    t.Root->right->color = Black;  // black heights now differ
    EXPECT_NE(t.validate(), nullptr);
    t.Root->right->color = Red;
    EXPECT_EQ(t.validate(), nullptr);
    std::swap(t.Root->left->data->id, t.Root->right->data->id);  // order broken
    EXPECT_NE(t.validate(), nullptr);
    std::swap(t.Root->left->data->id, t.Root->right->data->id);
}
