#include "runtime/memory/memory.h"
#include "runtime/memory/registry.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

struct Record {
    uintptr_t handle; // non-zero while live
    int32_t value;
    int32_t spare;
};

std::vector<ObjectId> freed;
ObjectRegistry *current;

void FreeRecord(ObjectId id) {
    auto *record = static_cast<Record *>(RegistryGet(current, id));
    if (!record) return;
    freed.push_back(id);
    RegistryFree(current, id);
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!MainHeap) MainHeapInit();
        if (!ObjectHeap) ObjectHeapInit();
        freed.clear();
        current = registry = RegistryCreate(sizeof(Record), 16, FreeRecord);
        ASSERT_NE(registry, nullptr);
    }
    Record *Make(ObjectId number, uintptr_t handle) {
        auto *record = static_cast<Record *>(RegistryAllocate(registry, number));
        if (record) record->handle = handle;
        return record;
    }
    ObjectRegistry *registry = nullptr;
};

TEST(Memory, AllocIsZeroFilledAndInitialiserSeesIt) {
    MainHeapInit();
    static bool sawZeroes;
    auto *block = static_cast<unsigned char *>(MemoryAlloc(4000, [](void *b) {
        auto *bytes = static_cast<unsigned char *>(b);
        sawZeroes = true;
        for (int i = 0; i < 4000; i++) sawZeroes = sawZeroes && bytes[i] == 0;
        bytes[0] = 7;
    }));
    ASSERT_NE(block, nullptr);
    EXPECT_TRUE(sawZeroes);
    EXPECT_EQ(block[0], 7);
    MemoryFree(block);
    MemoryFree(nullptr);
}

TEST_F(Registry, NewTableIsEmptyAndGrowsByRequestedNumberPlusStep) {
    EXPECT_EQ(registry->capacity, 16);
    for (ObjectId n = 0; n < 16; n++) EXPECT_EQ(RegistryGet(registry, n), nullptr);
    for (ObjectId n = 0; n < 16; n++) Make(n, 100 + n)->value = int32_t(n);

    Record *r20 = Make(20, 120);
    ASSERT_NE(r20, nullptr);
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
        auto *raw = registry->table + n * sizeof(Record);
        EXPECT_EQ(memcmp(raw, &zero, sizeof zero), 0) << "record " << n;
    }
    EXPECT_TRUE(freed.empty()) << "growing frees nothing: number 20 held no object";
}

TEST_F(Registry, ReallocatingALiveNumberFreesItFirst) {
    Make(3, 0x1234)->value = 9;
    Make(4, 0);                                 // allocated but never made live
    Record *again = static_cast<Record *>(RegistryAllocate(registry, 3));
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(freed, std::vector<ObjectId>{3});
    EXPECT_EQ(again->handle, 0u);
    EXPECT_EQ(again->value, 0);
    RegistryAllocate(registry, 4);              // not live: the callback frees nothing
    EXPECT_EQ(freed.size(), 1u);
}

TEST_F(Registry, DynamicIdsAreRecordAddressesOutsideTheTable) {
    ObjectId ids[2];
    for (ObjectId &id : ids) {
        Record *r = Make(AutoNumber, 1);
        ASSERT_NE(r, nullptr);
        id = reinterpret_cast<ObjectId>(r);
        EXPECT_FALSE(id >= 0 && id < registry->capacity);
        auto *tableEnd = registry->table + registry->capacity * sizeof(Record);
        EXPECT_FALSE(reinterpret_cast<uint8_t *>(r) >= registry->table &&
                     reinterpret_cast<uint8_t *>(r) < tableEnd);
    }
    EXPECT_NE(ids[0], ids[1]);
    EXPECT_TRUE(freed.empty()) << "AutoNumber never calls the free callback";

    // A fresh dynamic record is zeroed and so not live until its owner stores a handle.
    ObjectId blank = reinterpret_cast<ObjectId>(RegistryAllocate(registry, AutoNumber));
    EXPECT_EQ(RegistryGet(registry, blank), nullptr);
    EXPECT_NE(RegistryValidate(registry, blank), nullptr) << "validation ignores liveness";

    EXPECT_NE(RegistryValidate(registry, ids[0]), nullptr);
    RegistryFree(registry, ids[0]);
    EXPECT_EQ(RegistryValidate(registry, ids[0]), nullptr);
    EXPECT_NE(RegistryValidate(registry, ids[1]), nullptr);

    ObjectId id;
    RegistryRewind(registry);
    std::vector<ObjectId> seen;
    while (RegistryNext(registry, &id)) seen.push_back(id);
    EXPECT_EQ(seen, (std::vector<ObjectId>{ids[1], blank}));
}

TEST_F(Registry, EnumeratesNumbersThenDynamicOldestFirstAndAllowsFreeing) {
    Make(2, 22);
    Make(0, 10);
    ObjectId older = reinterpret_cast<ObjectId>(Make(AutoNumber, 1));
    ObjectId newer = reinterpret_cast<ObjectId>(Make(AutoNumber, 2));

    std::vector<ObjectId> seen;
    ObjectId id = 0;
    RegistryRewind(registry);
    while (RegistryNext(registry, &id)) seen.push_back(id);
    EXPECT_EQ(seen, (std::vector<ObjectId>{0, 2, older, newer}));
    EXPECT_EQ(RegistryNext(registry, &id), nullptr);
    EXPECT_EQ(registry->enumIndex, registry->capacity);

    // The shut-down pattern: free each object right after it is yielded.
    RegistryRewind(registry);
    while (RegistryNext(registry, &id)) FreeRecord(id);
    EXPECT_EQ(freed, (std::vector<ObjectId>{0, 2, older, newer}));
    EXPECT_EQ(registry->dynamicList, nullptr);
    RegistryRewind(registry);
    EXPECT_EQ(RegistryNext(registry, &id), nullptr);
}

// Walks the list both ways and checks that the links agree.
std::vector<int> Walk(void *head) {
    std::vector<int> values;
    void *last = nullptr;
    for (void *p = head; p; p = ListNext(p)) {
        EXPECT_EQ(ListPrev(p), last);
        values.push_back(*static_cast<int *>(p));
        last = p;
    }
    std::vector<int> backwards;
    for (void *p = last; p; p = ListPrev(p)) backwards.insert(backwards.begin(), *static_cast<int *>(p));
    EXPECT_EQ(values, backwards);
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
    EXPECT_EQ(Walk(head), (std::vector<int>{3, 2, 1, 0}));
    ListRemove(&head, nodes[2]); // middle
    EXPECT_EQ(Walk(head), (std::vector<int>{3, 1, 0}));
    ListRemove(&head, nodes[0]); // tail
    EXPECT_EQ(Walk(head), (std::vector<int>{3, 1}));
    ListRemove(&head, nodes[3]);
    ListRemove(&head, nodes[1]);
    EXPECT_EQ(head, nullptr);
}

} // namespace
