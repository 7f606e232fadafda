#include "util/DoubleArray.h"
#include "util/Ref.h"
#include "util/Refs.h"
#include "util/SmartPtr.h"

#include <gtest/gtest.h>

#include <latch>
#include <thread>
#include <vector>

namespace {

struct Counted : RefBase {
    explicit Counted(int* deaths) : deaths(deaths) {}
    ~Counted() override { ++*deaths; }
    int* deaths;
};

struct Tracked {
    explicit Tracked(int* deaths) : deaths(deaths) {}
    ~Tracked() { ++*deaths; }
    int* deaths;
};

} // namespace

TEST(RefBase, CountsStartAtZeroAndTheLastReleaseDeletes) {
    int deaths = 0;
    auto* object = new Counted(&deaths);
    EXPECT_EQ(object->addRef(), 1);
    EXPECT_EQ(object->addRef(), 2);
    EXPECT_EQ(object->release(), 1);
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(object->release(), 0);
    EXPECT_EQ(deaths, 1);
}

TEST(RefPtr, CopiesShareAndSelfAssignmentKeepsTheObject) {
    int deaths = 0;
    {
        ref_ptr<Counted> a(new Counted(&deaths));
        ref_ptr<Counted> b = a;
        EXPECT_EQ(a->references(), 2);
        b = a; // the new target gains its reference before the old one loses it
        a = a.get();
        EXPECT_EQ(a->references(), 2);
        RefPtr base = a; // up-cast into a list pointer
        EXPECT_EQ(base.as<Counted>(), a.get());
        b.reset();
        base.reset();
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 1);
}

TEST(SmartPtr, TheLastHolderDeletesThroughThePolicy) {
    int deaths = 0;
    {
        smart_ptr<Tracked> a(new Tracked(&deaths));
        {
            smart_ptr<Tracked> b = a;
            EXPECT_EQ(a.useCount(), 2);
        }
        EXPECT_EQ(deaths, 0);
    }
    EXPECT_EQ(deaths, 1);
}

TEST(SmartPtr, TakingThePointerEmptiesTheBlockForEveryHolder) {
    int deaths = 0;
    smart_ptr<Tracked> a(new Tracked(&deaths));
    smart_ptr<Tracked> b = a;
    Tracked* raw = a.take();
    EXPECT_TRUE(a.empty());
    EXPECT_TRUE(b.empty());
    EXPECT_FALSE(static_cast<bool>(b));
    a.reset();
    b.reset();
    EXPECT_EQ(deaths, 0);
    delete raw;
    EXPECT_EQ(deaths, 1);
}

TEST(SmartPtr, NullHoldingBlockCountsAsEmpty) {
    smart_ptr<int> none(nullptr);
    EXPECT_TRUE(none.empty());
    smart_ptr<int, da_array> numbers(new int[3]{1, 2, 3});
    EXPECT_EQ(numbers[2], 3);
}

TEST(DoubleArray, ZeroFilledWithItsCountBeforeElementZero) {
    DoublePtr values = makeDoubles(5);
    ASSERT_EQ(doubleCount(values), 5);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(values[i], 0.0);
    EXPECT_EQ(reinterpret_cast<const std::int32_t*>(values.get())[-1], 5);
    EXPECT_EQ(reinterpret_cast<std::uintptr_t>(values.get()) % alignof(double), 0u);
    EXPECT_EQ(doubleCount(makeDoubles(0)), 0);
    EXPECT_EQ(doubleCount(DoublePtr()), 0);
}

TEST(Refs, AnAbsentListCountsAsEmpty) {
    RefsPtr absent;
    EXPECT_EQ(refsCount(absent), 0);
    RefsPtr list(new Refs);
    int deaths = 0;
    list->push_back(RefPtr(new Counted(&deaths)));
    EXPECT_EQ(refsCount(list), 1);
    list.reset();
    EXPECT_EQ(deaths, 1);
}

// The learning thread and the window thread take and drop references to the same objects
// (the compiled patterns, the run's network) at the same time: no count may get lost.
TEST(RefBase, CountsStayRightWhileThreadsShareAnObject) {
    int deaths = 0;
    ref_ptr<Counted> shared(new Counted(&deaths));
    smart_ptr<Tracked> block(new Tracked(&deaths));
    std::vector<std::thread> threads;
    std::latch start(4);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&shared, &block, &start] {
            start.arrive_and_wait();
            // Held in lists, so that no copy is taken and dropped in one breath.
            std::vector<ref_ptr<Counted>> copies;
            std::vector<smart_ptr<Tracked>> others;
            for (int round = 0; round < 200; ++round) {
                for (int i = 0; i < 1000; ++i) {
                    copies.push_back(shared);
                    others.push_back(block);
                }
                copies.clear();
                others.clear();
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(shared->references(), 1);
    EXPECT_EQ(block.useCount(), 1);
    EXPECT_EQ(deaths, 0);
}
