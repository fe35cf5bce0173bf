// The game's console as the plugin meets it, compiled as the game's own code
// (MSVC, 32-bit): the console manager and its print operation, the menu
// manager with its menu table and counted menus, cached strings, the command
// routine, object references with their handles, and the two initialisation
// routines. What happens is reported to the test side through the hooks.
#include "console_side.h"

namespace {

template <typename Member> const void* CodeAddress(Member member) {
    // Single inheritance: a pointer to a non-virtual member is the code address.
    static_assert(sizeof(Member) == sizeof(void*));
    const void* address;
    __builtin_memcpy(&address, &member, sizeof address);
    return address;
}

unsigned Add(unsigned& counter) {
    return __atomic_add_fetch(&counter, 1u, __ATOMIC_SEQ_CST);
}

ConsoleSideHooks hooks;
ConsoleSideCounts counts;

// --- the console manager -----------------------------------------------------

struct ConsoleManager {
    unsigned hostWords[16];
    // The host's formatted print: format and its argument list (va_list).
    void Print(const char* format, char* arguments) {
        if (hooks.printed != nullptr) {
            hooks.printed(this, format, arguments);
        }
    }
};

ConsoleManager consoleManager;

// --- cached strings ----------------------------------------------------------

constexpr unsigned CachedCapacity = 64;
constexpr unsigned CachedLength = 64;
char cached[CachedCapacity][CachedLength];
unsigned cachedCount;
int cacheLock;

bool SameText(const char* a, const char* b) {
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

const char* Cache(const char* text) {
    while (__atomic_exchange_n(&cacheLock, 1, __ATOMIC_ACQUIRE) != 0) {
    }
    const char* found = nullptr;
    for (unsigned i = 0; i < cachedCount && found == nullptr; ++i) {
        if (SameText(cached[i], text)) {
            found = cached[i];
        }
    }
    if (found == nullptr && cachedCount < CachedCapacity) {
        char* slot = cached[cachedCount++];
        unsigned n = 0;
        for (; n + 1 < CachedLength && text[n] != '\0'; ++n) {
            slot[n] = text[n];
        }
        slot[n] = '\0';
        found = slot;
    }
    __atomic_store_n(&cacheLock, 0, __ATOMIC_RELEASE);
    return found;
}

struct StringCacheRef {
    const char* text;
    void Init(const char* source) {
        Add(counts.initStringCalls);
        if (hooks.stringCached != nullptr) {
            hooks.stringCached(source);
        }
        text = Cache(source);
    }
};

unsigned Hash(const char* key) {
    unsigned hash = 2166136261u; // FNV-1a
    for (; *key != '\0'; ++key) {
        hash = (hash ^ static_cast<unsigned char>(*key)) * 16777619u;
    }
    return hash;
}

void HashStringKey(unsigned* result, const char* key) {
    Add(counts.hashCalls);
    *result = Hash(key);
}

// --- menus and the menu manager ----------------------------------------------

struct Menu {
    int references;
    unsigned hostWords[7];
    void AddReference() { __atomic_add_fetch(&references, 1, __ATOMIC_SEQ_CST); }
    void ReleaseReference() {
        if (__atomic_sub_fetch(&references, 1, __ATOMIC_SEQ_CST) < 0) {
            Add(counts.menuUnderflows);
        }
    }
    // The console menu's selection: 0 clears it.
    void SetReference(unsigned argument) {
        if (hooks.menuReferenceSet != nullptr) {
            hooks.menuReferenceSet(this, argument);
        }
    }
};

Menu menus[ConsoleSideMenuCapacity];

struct MenuEntry {
    const char* key;
    Menu* menu;
    unsigned unread;
    MenuEntry* next;
};
static_assert(sizeof(MenuEntry) == 16);

struct MenuTable {
    unsigned hostWord0;
    unsigned bucketCount;
    unsigned hostWords8[2];
    MenuEntry* chainEnd;
    unsigned hostWord20;
    MenuEntry* buckets;
};

struct MenuManager {
    unsigned char hostBytes[ConsoleSideMenuTableOffset];
    MenuTable table;
};
static_assert(__builtin_offsetof(MenuManager, table) == 0xA4);
static_assert(__builtin_offsetof(MenuManager, table.bucketCount) == 0xA4 + 4);
static_assert(__builtin_offsetof(MenuManager, table.chainEnd) == 0xA4 + 16);
static_assert(__builtin_offsetof(MenuManager, table.buckets) == 0xA4 + 24);

MenuManager menuManager;
constexpr unsigned BucketCapacity = 64;
MenuEntry bucketArray[BucketCapacity];
constexpr unsigned ChainedCapacity = 32;
MenuEntry chained[ChainedCapacity];
unsigned chainedCount;
MenuEntry chainEnd;

// --- the command routine -----------------------------------------------------

void RunConsoleCommand(void* record) {
    if (hooks.commandRun != nullptr) {
        hooks.commandRun(record);
    }
}

// --- object references -------------------------------------------------------

struct Reference {
    unsigned hostWords[5];
    unsigned handle;
    int count;
    int live;
    // Writes the reference's handle, or leaves the variable alone when it
    // has none.
    void GetHandle(unsigned* out) {
        Add(counts.getHandleCalls);
        if (handle != 0) {
            *out = handle;
        }
    }
};

Reference references[ConsoleSideReferenceCapacity];

void SelectConsoleReference(unsigned handle) {
    if (hooks.referenceSelected != nullptr) {
        hooks.referenceSelected(handle);
    }
}

void LookUpReferenceByHandle(const unsigned* handle, Reference** out) {
    Add(counts.lookUpCalls);
    for (Reference& reference : references) {
        if (reference.live != 0 && reference.handle != 0 && reference.handle == *handle) {
            __atomic_add_fetch(&reference.count, 1, __ATOMIC_SEQ_CST);
            *out = &reference;
            return;
        }
    }
}

// The host's counted pointer to a reference: releasing drops the count and
// empties the variable.
struct ReferencePointer {
    Reference* pointer;
    void Release() {
        Add(counts.releasePointerCalls);
        if (pointer == nullptr) {
            Add(counts.releasesOfNull);
            return;
        }
        __atomic_sub_fetch(&pointer->count, 1, __ATOMIC_SEQ_CST);
        pointer = nullptr;
    }
};

// --- start-up ------------------------------------------------------------------

void InitializeConsoleStep1() {
    if (hooks.initializeStep != nullptr) {
        hooks.initializeStep(1);
    }
}

void InitializeConsoleStep2() {
    if (hooks.initializeStep != nullptr) {
        hooks.initializeStep(2);
    }
}

} // namespace

extern "C" void ConsoleSideReset(const ConsoleSideHooks* newHooks) {
    hooks = *newHooks;
    counts = ConsoleSideCounts{};
    consoleManager = ConsoleManager{};
    for (Menu& menu : menus) {
        menu = Menu{};
    }
    for (Reference& reference : references) {
        reference = Reference{};
    }
    menuManager = MenuManager{};
    chainEnd = MenuEntry{};
    chainedCount = 0;
}

extern "C" void ConsoleSideGetRoutines(ConsoleSideRoutines* routines) {
    routines->consoleManagerPrint = CodeAddress(&ConsoleManager::Print);
    routines->initStringCacheRef = CodeAddress(&StringCacheRef::Init);
    routines->hashStringKey = reinterpret_cast<const void*>(&HashStringKey);
    routines->menuAddReference = CodeAddress(&Menu::AddReference);
    routines->menuReleaseReference = CodeAddress(&Menu::ReleaseReference);
    routines->runConsoleCommand = reinterpret_cast<const void*>(&RunConsoleCommand);
    routines->getReferenceHandle = CodeAddress(&Reference::GetHandle);
    routines->selectConsoleReference = reinterpret_cast<const void*>(&SelectConsoleReference);
    routines->setConsoleMenuReference = CodeAddress(&Menu::SetReference);
    routines->lookUpReferenceByHandle = reinterpret_cast<const void*>(&LookUpReferenceByHandle);
    routines->releaseReferencePointer = CodeAddress(&ReferencePointer::Release);
    routines->initializeConsoleStep1 = reinterpret_cast<const void*>(&InitializeConsoleStep1);
    routines->initializeConsoleStep2 = reinterpret_cast<const void*>(&InitializeConsoleStep2);
}

extern "C" const ConsoleSideCounts* ConsoleSideCounted() {
    return &counts;
}

extern "C" void* ConsoleSideConsoleManager() {
    return &consoleManager;
}

extern "C" void* ConsoleSideMenuManager() {
    return &menuManager;
}

extern "C" const char* ConsoleSideCachedString(const char* text) {
    return Cache(text);
}

extern "C" unsigned ConsoleSideHash(const char* key) {
    return Hash(key);
}

extern "C" void ConsoleSideSetMenuTable(unsigned bucketCount, int withBuckets) {
    if (bucketCount > BucketCapacity) {
        bucketCount = BucketCapacity;
    }
    for (MenuEntry& entry : bucketArray) {
        entry = MenuEntry{};
    }
    chainedCount = 0;
    menuManager.table.bucketCount = bucketCount;
    menuManager.table.chainEnd = &chainEnd;
    menuManager.table.buckets = withBuckets != 0 ? bucketArray : nullptr;
}

extern "C" void ConsoleSideAddMenuEntry(unsigned bucket, const char* key, void* menu) {
    MenuEntry* entry = &bucketArray[bucket % BucketCapacity];
    if (entry->next == nullptr) {
        *entry = MenuEntry{key, static_cast<Menu*>(menu), 0, &chainEnd};
        return;
    }
    if (chainedCount == ChainedCapacity) {
        return;
    }
    while (entry->next != &chainEnd) {
        entry = entry->next;
    }
    MenuEntry* added = &chained[chainedCount++];
    *added = MenuEntry{key, static_cast<Menu*>(menu), 0, &chainEnd};
    entry->next = added;
}

extern "C" void ConsoleSideSetStaleBucket(unsigned bucket, const char* key, void* menu) {
    bucketArray[bucket % BucketCapacity] = MenuEntry{key, static_cast<Menu*>(menu), 0, nullptr};
}

extern "C" void ConsoleSideSetChainEnd(const char* key, void* menu) {
    chainEnd.key = key;
    chainEnd.menu = static_cast<Menu*>(menu);
}

extern "C" void* ConsoleSideMenu(unsigned index) {
    return index < ConsoleSideMenuCapacity ? &menus[index] : nullptr;
}

extern "C" int ConsoleSideMenuReferences(const void* menu) {
    return __atomic_load_n(&static_cast<const Menu*>(menu)->references, __ATOMIC_SEQ_CST);
}

extern "C" void ConsoleSideSetMenuReferences(void* menu, int references) {
    __atomic_store_n(&static_cast<Menu*>(menu)->references, references, __ATOMIC_SEQ_CST);
}

extern "C" void* ConsoleSideReference(unsigned index) {
    return index < ConsoleSideReferenceCapacity ? &references[index] : nullptr;
}

extern "C" void ConsoleSideSetReference(void* reference, unsigned handle, int live) {
    static_cast<Reference*>(reference)->handle = handle;
    static_cast<Reference*>(reference)->live = live;
}

extern "C" int ConsoleSideReferenceCount(const void* reference) {
    return __atomic_load_n(&static_cast<const Reference*>(reference)->count, __ATOMIC_SEQ_CST);
}
