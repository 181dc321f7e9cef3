// The launcher is built without the C runtime, but compilers still emit calls to memset and
// memcpy for zeroed records and struct copies. Linked only into the Windows program; built
// so that the compiler cannot turn these loops back into calls to themselves.
#include <stddef.h>

#if defined(_MSC_VER)
#pragma function(memset, memcpy)
#endif

extern "C" void* memset(void* destination, int value, size_t count)
{
    unsigned char* d = static_cast<unsigned char*>(destination);
    while (count-- > 0)
        *d++ = static_cast<unsigned char>(value);
    return destination;
}

extern "C" void* memcpy(void* destination, const void* source, size_t count)
{
    unsigned char* d = static_cast<unsigned char*>(destination);
    const unsigned char* s = static_cast<const unsigned char*>(source);
    while (count-- > 0)
        *d++ = *s++;
    return destination;
}
