/* The extern "C" meeting point of the simulated console (msvc/console_side.cpp,
   compiled as the game's own code) and the test side (console_sim.cpp). Plain
   C types only: included by both compilers. Tests use console_sim.h. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* What the host side reports to the test side, as it happens. Each is called
   on the thread that called the host routine. */
struct ConsoleSideHooks {
    void (*printed)(const void* console, const char* format, const void* arguments);
    void (*commandRun)(const void* record);
    void (*referenceSelected)(unsigned handle);
    void (*menuReferenceSet)(const void* menu, unsigned argument);
    void (*initializeStep)(unsigned step);
    void (*stringCached)(const char* text); /* inside InitStringCacheRef */
};

/* Counts kept by the host side (changed atomically). */
struct ConsoleSideCounts {
    unsigned initStringCalls;
    unsigned hashCalls;
    unsigned getHandleCalls;
    unsigned lookUpCalls;
    unsigned releasePointerCalls;
    unsigned releasesOfNull; /* ReleaseReferencePointer on a variable holding null */
    unsigned menuUnderflows; /* MenuReleaseReference on a menu without references */
};

/* Code addresses of the host routines, to be installed at their addresses. */
struct ConsoleSideRoutines {
    const void* consoleManagerPrint;
    const void* initStringCacheRef;
    const void* hashStringKey;
    const void* menuAddReference;
    const void* menuReleaseReference;
    const void* runConsoleCommand;
    const void* getReferenceHandle;
    const void* selectConsoleReference;
    const void* setConsoleMenuReference;
    const void* lookUpReferenceByHandle;
    const void* releaseReferencePointer;
    const void* initializeConsoleStep1;
    const void* initializeConsoleStep2;
};

#define ConsoleSideMenuCapacity 8u
#define ConsoleSideReferenceCapacity 8u
#define ConsoleSideMenuTableOffset 0xA4u

/* Empties the menu table, zeroes every count and sets the hooks. Cached
   strings survive: the plugin keeps its own across tests. */
void ConsoleSideReset(const struct ConsoleSideHooks* hooks);
void ConsoleSideGetRoutines(struct ConsoleSideRoutines* routines);
const struct ConsoleSideCounts* ConsoleSideCounted(void);

void* ConsoleSideConsoleManager(void);
void* ConsoleSideMenuManager(void);

/* The cached string for text: equal texts give one pointer, for the life of
   the process. */
const char* ConsoleSideCachedString(const char* text);
/* The hash that HashStringKey writes for a key. */
unsigned ConsoleSideHash(const char* key);

/* The menu table: bucketCount buckets (a power of two), or no bucket array.
   Every bucket empty (next null), chains end at a sentinel entry. */
void ConsoleSideSetMenuTable(unsigned bucketCount, int withBuckets);
/* Appends an entry to the chain of bucket (the bucket itself when empty). */
void ConsoleSideAddMenuEntry(unsigned bucket, const char* key, void* menu);
/* Leaves stale key and menu in an empty bucket, as a table may after removal. */
void ConsoleSideSetStaleBucket(unsigned bucket, const char* key, void* menu);
/* The sentinel that ends every chain, with the key and menu it holds. */
void ConsoleSideSetChainEnd(const char* key, void* menu);

void* ConsoleSideMenu(unsigned index);
int ConsoleSideMenuReferences(const void* menu);
void ConsoleSideSetMenuReferences(void* menu, int references);

/* Object references: handle 0 stands for a reference without one; a dead
   reference is not found by its handle. */
void* ConsoleSideReference(unsigned index);
void ConsoleSideSetReference(void* reference, unsigned handle, int live);
int ConsoleSideReferenceCount(const void* reference);

#ifdef __cplusplus
}
#endif
