#include "runtime/memory/registry.h"

#include "runtime/memory/memory.h"

#include <cstring>

namespace {

struct ListNode {
    ListNode *next; // older
    ListNode *prev; // newer
};

ListNode *NodeOf(void *payload) {
    return payload ? static_cast<ListNode *>(payload) - 1 : nullptr;
}
void *PayloadOf(ListNode *node) {
    return node ? node + 1 : nullptr;
}

bool IsTableIndex(const ObjectRegistry *registry, ObjectId id) {
    return id >= 0 && id < registry->capacity;
}

uint8_t *TableRecord(const ObjectRegistry *registry, ObjectId number) {
    return registry->table +
           static_cast<size_t>(number) * static_cast<size_t>(registry->recordSize);
}

bool IsLive(const void *record) {
    uintptr_t first;
    memcpy(&first, record, sizeof first);
    return first != 0;
}

} // namespace

ObjectRegistry *RegistryCreate(int32_t recordSize, int32_t growStep,
                               ObjectFreeCallback freeCallback) {
    auto *registry = static_cast<ObjectRegistry *>(MemoryAlloc(sizeof(ObjectRegistry)));
    if (!registry) return nullptr;
    registry->recordSize = recordSize;
    registry->growStep = growStep;
    registry->freeCallback = freeCallback;
    registry->table =
        static_cast<uint8_t *>(MemoryAlloc(static_cast<size_t>(recordSize) * growStep));
    registry->capacity = registry->table ? growStep : 0;
    return registry;
}

void *RegistryAllocate(ObjectRegistry *registry, ObjectId number) {
    if (number == AutoNumber) {
        return ListAdd(&registry->dynamicList, ListLinkSize + registry->recordSize);
    }
    if (number < 0) return nullptr;
    if (number >= registry->capacity) {
        // Tested before adding: the sum would wrap for the largest ids (any number near the top of
        // a 32-bit id), and the wrapped capacity would shrink the table.
        if (number > INT32_MAX / registry->recordSize - registry->growStep) return nullptr;
        ObjectId capacity = number + registry->growStep;
        size_t bytes = static_cast<size_t>(capacity) * registry->recordSize;
        void *table = registry->table
                          ? HeapReAlloc(MainHeap, HEAP_ZERO_MEMORY, registry->table, bytes)
                          : HeapAlloc(MainHeap, HEAP_ZERO_MEMORY, bytes);
        if (!table) return nullptr;
        registry->table = static_cast<uint8_t *>(table);
        registry->capacity = static_cast<int32_t>(capacity);
    }
    if (registry->freeCallback) registry->freeCallback(number);
    return TableRecord(registry, number);
}

void *RegistryGet(ObjectRegistry *registry, ObjectId id) {
    void *record =
        IsTableIndex(registry, id) ? TableRecord(registry, id) : reinterpret_cast<void *>(id);
    return record && IsLive(record) ? record : nullptr;
}

void *RegistryValidate(ObjectRegistry *registry, ObjectId id) {
    if (IsTableIndex(registry, id)) {
        uint8_t *record = TableRecord(registry, id);
        return IsLive(record) ? record : nullptr;
    }
    for (void *p = registry->dynamicList; p; p = ListNext(p)) {
        if (reinterpret_cast<ObjectId>(p) == id) return p;
    }
    return nullptr;
}

void RegistryFree(ObjectRegistry *registry, ObjectId id) {
    if (IsTableIndex(registry, id)) {
        memset(TableRecord(registry, id), 0, registry->recordSize);
    } else if (id) {
        ListRemove(&registry->dynamicList, reinterpret_cast<void *>(id));
    }
}

void RegistryRewind(ObjectRegistry *registry) {
    registry->enumIndex = 0;
    void *oldest = registry->dynamicList;
    while (oldest && ListNext(oldest))
        oldest = ListNext(oldest);
    registry->enumNode = oldest;
}

void *RegistryNext(ObjectRegistry *registry, ObjectId *id) {
    while (registry->enumIndex < registry->capacity) {
        ObjectId number = registry->enumIndex++;
        uint8_t *record = TableRecord(registry, number);
        if (IsLive(record)) {
            *id = number;
            return record;
        }
    }
    void *record = registry->enumNode;
    if (!record) return nullptr;
    registry->enumNode = ListPrev(record);
    *id = reinterpret_cast<ObjectId>(record);
    return record;
}

void *ListAdd(void **head, size_t totalSize) {
    if (totalSize < ListLinkSize) totalSize = ListLinkSize;
    auto *node = static_cast<ListNode *>(HeapAlloc(ObjectHeap, HEAP_ZERO_MEMORY, totalSize));
    if (!node) return nullptr;
    ListNode *old = NodeOf(*head);
    if (old) {
        old->prev = node;
        node->next = old;
    }
    *head = PayloadOf(node);
    return *head;
}

void ListRemove(void **head, void *payload) {
    ListNode *node = NodeOf(payload);
    if (!node) return;
    if (payload == *head) {
        *head = PayloadOf(node->next);
        if (node->next) node->next->prev = nullptr;
    } else {
        if (node->prev) node->prev->next = node->next;
        if (node->next) node->next->prev = node->prev;
    }
    HeapFree(ObjectHeap, 0, node);
}

void *ListNext(void *payload) {
    return PayloadOf(NodeOf(payload)->next);
}

void *ListPrev(void *payload) {
    return PayloadOf(NodeOf(payload)->prev);
}
