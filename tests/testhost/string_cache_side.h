/* The game's string cache for texts of any length, compiled as the game's own
   code (msvc/string_cache_side.cpp): SetStringCacheRef makes the reference
   point at the cached copy of its text, equal texts sharing one copy, as in
   the game. The simulated game process installs it for whole script calls,
   where messages are longer than the small caches of the unit-test fakes.
   Plain C types only: included by both compilers. */
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

/* Code address of SetStringCacheRef (thiscall on the reference, one text
   argument, null read as the empty text). */
const void* StringCacheSideSetRoutine(void);

/* The cached copy of text (null: the empty text); null only when the cache's
   store is full. */
const char* StringCacheSideIntern(const char* text);

/* Bytes of the store in use. */
unsigned StringCacheSideUsed(void);

#ifdef __cplusplus
}
#endif
