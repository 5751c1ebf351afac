#include "runtime/memory/memory.h"
#include "runtime/memory/registry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

struct Record {
    uintptr_t handle; // non-zero while live
    int32_t value;
    int32_t spare;
};

std::vector<ObjectId> Freed;
ObjectRegistry *Current;

void FreeRecord(ObjectId id) {
    if (!RegistryGet(Current, id)) return;
    Freed.push_back(id);
    RegistryFree(Current, id);
}

std::vector<ObjectId> Enumerate(ObjectRegistry *registry) {
    std::vector<ObjectId> seen;
    ObjectId id;
    RegistryRewind(registry);
    while (RegistryNext(registry, &id))
        seen.push_back(id);
    return seen;
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!MainHeap) MainHeapInit();
        if (!ObjectHeap) ObjectHeapInit();
        Freed.clear();
        Current = registry = RegistryCreate(sizeof(Record), 16, FreeRecord);
        ASSERT_NE(registry, nullptr);
    }
    Record *Make(ObjectId number, uintptr_t handle) {
        auto *record = static_cast<Record *>(RegistryAllocate(registry, number));
        if (record) record->handle = handle;
        return record;
    }
    ObjectId MakeDynamic(uintptr_t handle) {
        return reinterpret_cast<ObjectId>(Make(AutoNumber, handle));
    }
    ObjectRegistry *registry = nullptr;
};

TEST(Memory, AllocIsZeroFilledBeforeTheInitialiser) {
    MainHeapInit();
    auto *block = static_cast<uint8_t *>(
        MemoryAlloc(4000, [](void *b) { static_cast<uint8_t *>(b)[0] += 7; }));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block[0], 7) << "the initialiser found a zero";
    EXPECT_TRUE(std::all_of(block + 1, block + 4000, [](uint8_t c) { return c == 0; }));
    MemoryFree(block);
    MemoryFree(nullptr);
}

TEST_F(Registry, GrowsByRequestedNumberPlusStepKeepingOldRecords) {
    for (ObjectId n = 0; n < 16; n++)
        Make(n, 100 + n)->value = int32_t(n);
    ASSERT_NE(Make(20, 120), nullptr);
    EXPECT_EQ(registry->capacity, 36);
    for (ObjectId n = 0; n < 16; n++) {
        auto *r = static_cast<Record *>(RegistryGet(registry, n));
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->handle, uintptr_t(100 + n));
        EXPECT_EQ(r->value, n);
    }
    static const Record zero{};
    for (ObjectId n = 16; n < 36; n++) {
        if (n == 20) continue;
        EXPECT_EQ(memcmp(registry->table + n * sizeof(Record), &zero, sizeof zero), 0) << n;
    }
    EXPECT_TRUE(Freed.empty()) << "growing frees nothing: number 20 held no object";
}

TEST_F(Registry, ANumberBeyondAnyTableIsRefusedAndTheTableKept) {
    for (ObjectId n = 0; n < 16; n++)
        Make(n, 100 + n);
    // The largest numbers an id can hold: the number plus the growth step has no room in an id.
    for (ObjectId huge : {ObjectId(INT32_MAX), ObjectId(INTPTR_MAX - 1)}) {
        EXPECT_EQ(RegistryAllocate(registry, huge), nullptr) << huge;
        EXPECT_EQ(registry->capacity, 16) << huge;
    }
    for (ObjectId n = 0; n < 16; n++) {
        auto *r = static_cast<Record *>(RegistryGet(registry, n));
        ASSERT_NE(r, nullptr) << n;
        EXPECT_EQ(r->handle, uintptr_t(100 + n));
    }
    EXPECT_TRUE(Freed.empty());

    // The first number past the table is no table record, although the memory behind the table
    // looks like a live one here.
    std::vector<Record> wider(17);
    wider[16].handle = 1;
    registry->table = reinterpret_cast<uint8_t *>(wider.data());
    EXPECT_EQ(RegistryValidate(registry, 16), nullptr);
}

TEST_F(Registry, ReallocatingALiveNumberFreesItFirst) {
    Make(3, 0x1234)->value = 9;
    Make(4, 0); // allocated but never made live
    Record *again = static_cast<Record *>(RegistryAllocate(registry, 3));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(Freed, std::vector<ObjectId>{3});
    EXPECT_EQ(again->value, 0);
    RegistryAllocate(registry, 4); // not live: the callback frees nothing
    EXPECT_EQ(Freed.size(), 1u);
}

TEST_F(Registry, DynamicIdsAreRecordAddressesOutsideTheTable) {
    ObjectId a = MakeDynamic(1), b = MakeDynamic(1);
    auto *tableEnd = registry->table + registry->capacity * sizeof(Record);
    for (ObjectId id : {a, b}) {
        auto *at = reinterpret_cast<uint8_t *>(id);
        EXPECT_FALSE(id >= 0 && id < registry->capacity);
        EXPECT_FALSE(at >= registry->table && at < tableEnd);
    }
    EXPECT_NE(a, b);
    EXPECT_TRUE(Freed.empty()) << "AutoNumber never calls the free callback";

    // A fresh dynamic record is zeroed and so not live until its owner stores a handle.
    ObjectId blank = MakeDynamic(0);
    EXPECT_EQ(RegistryGet(registry, blank), nullptr);
    EXPECT_NE(RegistryValidate(registry, blank), nullptr) << "validation ignores liveness";
    RegistryFree(registry, a);
    EXPECT_EQ(RegistryValidate(registry, a), nullptr);
    EXPECT_NE(RegistryValidate(registry, b), nullptr);
    EXPECT_EQ(Enumerate(registry), (std::vector<ObjectId>{b, blank}));
}

TEST_F(Registry, EnumeratesNumbersThenDynamicOldestFirstAndAllowsFreeing) {
    Make(2, 22);
    Make(0, 10);
    ObjectId older = MakeDynamic(1), newer = MakeDynamic(2);
    EXPECT_EQ(Enumerate(registry), (std::vector<ObjectId>{0, 2, older, newer}));

    // The shut-down pattern: free each object right after it is yielded.
    ObjectId id;
    RegistryRewind(registry);
    while (RegistryNext(registry, &id))
        FreeRecord(id);
    EXPECT_EQ(Freed, (std::vector<ObjectId>{0, 2, older, newer}));
    EXPECT_TRUE(Enumerate(registry).empty());
}

// The list's values from the head, after checking that every back link agrees.
std::vector<int> Walk(void *head) {
    std::vector<int> values;
    void *last = nullptr;
    for (void *p = head; p; last = p, p = ListNext(p)) {
        EXPECT_EQ(ListPrev(p), last);
        values.push_back(*static_cast<int *>(p));
    }
    return values;
}

TEST(ObjectList, AddsAtHeadAndUnlinksHeadMiddleAndTail) {
    if (!ObjectHeap) ObjectHeapInit();
    void *head = nullptr;
    void *nodes[5];
    for (int i = 0; i < 5; i++) {
        nodes[i] = ListAdd(&head, ListLinkSize + sizeof(int));
        ASSERT_NE(nodes[i], nullptr);
        EXPECT_EQ(*static_cast<int *>(nodes[i]), 0);
        *static_cast<int *>(nodes[i]) = i;
    }
    EXPECT_EQ(Walk(head), (std::vector<int>{4, 3, 2, 1, 0}));
    ListRemove(&head, nodes[4]); // head
    ListRemove(&head, nodes[2]); // middle
    ListRemove(&head, nodes[0]); // tail
    EXPECT_EQ(Walk(head), (std::vector<int>{3, 1}));
    ListRemove(&head, nodes[3]);
    ListRemove(&head, nodes[1]);
    EXPECT_EQ(head, nullptr);
}

} // namespace
