#include "console/menu_lookup.h"

#include "platform/platform.h"

#include <atomic>
#include <mutex>

namespace quorvane {
namespace {

// ExecuteCommand reaches the first use under ConsoleLock and
// SetSelectedReference under no lock, so creation has a small lock of its own.
std::atomic<host::StringCacheRef*> ConsoleMenuName{nullptr};
std::mutex ConsoleMenuNameCreation;

// The entry of the table whose key is the pointer key, or null.
const host::MenuTableEntry* FindMenuTableEntry(const host::MenuTable& table, const char* key) {
    // One read of each word: the host may change the table while we walk it,
    // and an index must come from the count that belongs to the buckets read.
    host::MenuTableEntry* buckets = table.buckets;
    std::uint32_t bucketCount = table.bucketCount;
    const host::MenuTableEntry* chainEnd = table.chainEnd;
    if (buckets == nullptr || bucketCount == 0) {
        return nullptr;
    }

    std::uint32_t hash = 0;
    (*host::HashStringKey)(&hash, key);
    const host::MenuTableEntry* entry = &buckets[hash & (bucketCount - 1)];
    if (entry->next == nullptr) {
        return nullptr;
    }
    if (entry->key == key) {
        return entry;
    }
    for (;;) {
        entry = entry->next;
        // A null link inside a chain is no entry to read through.
        if (entry == chainEnd || entry == nullptr) {
            return nullptr;
        }
        if (entry->key == key) {
            return entry;
        }
    }
}

} // namespace

host::StringCacheRef* CreateConsoleMenuName() {
    host::StringCacheRef* name = ConsoleMenuName.load(std::memory_order_acquire);
    if (name != nullptr) {
        return name;
    }
    std::lock_guard<std::mutex> creation(ConsoleMenuNameCreation);
    name = ConsoleMenuName.load(std::memory_order_relaxed);
    if (name != nullptr) {
        return name;
    }
    name =
        static_cast<host::StringCacheRef*>(platform::AllocateZeroed(sizeof(host::StringCacheRef)));
    if (name == nullptr) {
        return nullptr;
    }
    (*host::InitStringCacheRef)(name, "Console");
    ConsoleMenuName.store(name, std::memory_order_release);
    return name;
}

void* LookUpMenu(host::MenuManager* menuManager, const host::StringCacheRef* name) {
    if (name == nullptr || name->text == nullptr) {
        return nullptr;
    }
    if (menuManager == nullptr) {
        return nullptr;
    }
    const host::MenuTableEntry* entry = FindMenuTableEntry(menuManager->menuTable, name->text);
    if (entry == nullptr) {
        return nullptr;
    }
    void* menu = entry->menu;
    if (menu == nullptr) {
        return nullptr;
    }
    host::Call(host::MenuAddReference, menu);
    return menu;
}

void ReleaseMenu(void*& holder) {
    if (holder == nullptr) {
        return;
    }
    void* menu = holder;
    holder = nullptr;
    host::Call(host::MenuReleaseReference, menu);
}

void ForgetConsoleMenuNameForTesting() {
    // The old name's storage is left alone: a lookup on another thread may
    // still read it.
    std::lock_guard<std::mutex> creation(ConsoleMenuNameCreation);
    ConsoleMenuName.store(nullptr);
}

} // namespace quorvane
