// A string cache for tests whose script texts are longer than the VM's own
// small cache keeps, or that cache texts from many threads at once: caching
// a text gives back the text's own pointer, as the host's cache does for a
// text that is already cached. The texts must outlive the calls. Compiled as
// the game's code (msvc/long_text_side.cpp); plain C types only.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Code address of the cache's SetStringCacheRef (a member call on the
// reference with the text; null gives the empty text).
const void* LongTextSetStringCacheRef(void);

#ifdef __cplusplus
}
#endif
