// The game's string cache as the end-to-end runs need it: any length, equal
// texts share one copy for the life of the process.
#include "string_cache_side.h"

namespace {

constexpr unsigned StoreSize = 4u << 20;
char store[StoreSize];
unsigned used;
int lock; // a spin lock: the VM's threads may cache strings at once
char emptyText[1];

bool Same(const char* a, const char* b) {
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

const char* InternLocked(const char* text) {
    // Entries lie back to back, each NUL-terminated.
    for (unsigned at = 0; at < used;) {
        const char* entry = store + at;
        if (Same(entry, text)) {
            return entry;
        }
        unsigned length = 0;
        while (entry[length] != 0) {
            ++length;
        }
        at += length + 1;
    }
    unsigned length = 0;
    while (text[length] != 0) {
        ++length;
    }
    if (length + 1 > StoreSize - used) {
        return nullptr;
    }
    char* entry = store + used;
    for (unsigned i = 0; i <= length; ++i) {
        entry[i] = text[i];
    }
    used += length + 1;
    return entry;
}

struct StringCacheRef {
    const char* text;

    void Set(const char* source) { text = StringCacheSideIntern(source); }
};

} // namespace

extern "C" const char* StringCacheSideIntern(const char* text) {
    if (text == nullptr || *text == 0) {
        return emptyText;
    }
    while (__atomic_exchange_n(&lock, 1, __ATOMIC_ACQUIRE) != 0) {
    }
    const char* cached = InternLocked(text);
    __atomic_store_n(&lock, 0, __ATOMIC_RELEASE);
    return cached;
}

extern "C" unsigned StringCacheSideUsed() {
    return __atomic_load_n(&used, __ATOMIC_SEQ_CST);
}

extern "C" const void* StringCacheSideSetRoutine() {
    auto member = &StringCacheRef::Set;
    static_assert(sizeof member == sizeof(void*), "single-inheritance member pointer");
    const void* address;
    __builtin_memcpy(&address, &member, sizeof address);
    return address;
}
