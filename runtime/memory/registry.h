// Tables of numbered objects and the object lists that hold dynamically numbered ones.
//
// An id is either a number (a table index chosen by the caller) or a dynamic id, the address of
// a record outside the table. Ids are pointer-wide so that a dynamic id fits on 64-bit builds.
#pragma once

#include <cstddef>
#include <cstdint>

using ObjectId = intptr_t;
constexpr ObjectId AutoNumber = -1; // asks RegistryAllocate for a dynamic id

// Frees the object with that id if it is live; does nothing otherwise.
using ObjectFreeCallback = void (*)(ObjectId id);

// A record is live while its first pointer-sized field (the object's handle) is non-zero.
struct ObjectRegistry {
    int32_t recordSize;
    int32_t growStep; // the initial capacity, and the room added beyond a number that grows the table
    int32_t capacity;
    void *dynamicList; // payload of the newest dynamic node, null when empty
    ObjectFreeCallback freeCallback;
    int32_t enumIndex;
    void *enumNode; // next dynamic record an enumeration yields, oldest first
    uint8_t *table;
};

ObjectRegistry *RegistryCreate(int32_t recordSize, int32_t growStep, ObjectFreeCallback freeCallback);

// For AutoNumber a new zeroed dynamic record. For a number, grows the table when needed, frees
// the object still holding the number through the callback, and returns its (zeroed) record.
void *RegistryAllocate(ObjectRegistry *registry, ObjectId number);

// The live record of an id, or null. Dynamic ids are taken as record addresses unchecked.
void *RegistryGet(ObjectRegistry *registry, ObjectId id);

// Like RegistryGet, but a dynamic id must belong to the registry's list (liveness not checked).
void *RegistryValidate(ObjectRegistry *registry, ObjectId id);

// Zeroes a numbered record or unlinks a dynamic one; releases no resource.
void RegistryFree(ObjectRegistry *registry, ObjectId id);

// Enumeration: live numbered records in ascending order, then every dynamic record, oldest first.
// The enumeration steps past a record before yielding it, so the caller may free it.
void RegistryRewind(ObjectRegistry *registry);
void *RegistryNext(ObjectRegistry *registry, ObjectId *id);

// Doubly linked lists on ObjectHeap. A list is a head pointer to the newest node's payload; each
// node is `next`, `prev`, then the payload. `totalSize` includes the two links.
constexpr size_t ListLinkSize = 2 * sizeof(void *);
void *ListAdd(void **head, size_t totalSize);
void ListRemove(void **head, void *payload);

// The links of a node, for walking a list from its head: ListNext goes to older nodes.
void *ListNext(void *payload);
void *ListPrev(void *payload);
