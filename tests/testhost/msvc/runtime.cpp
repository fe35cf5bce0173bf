// What MSVC-ABI code needs from a runtime that we do not link.

void operator delete(void*) noexcept {}
void operator delete(void*, unsigned int) noexcept {}
