// The launcher is built without the C runtime, but compilers still emit calls to memset and
// memcpy for zeroed records and struct copies. Linked only into the Windows program, and
// written so that no compiler turns these loops back into calls to themselves: cl.exe is
// told that they are functions, not intrinsics (#pragma function, which needs them declared
// first); clang that they are not builtins here; GCC by -fno-tree-loop-distribute-patterns.
#include <stddef.h>

extern "C" void* memset(void* destination, int value, size_t count);
extern "C" void* memcpy(void* destination, const void* source, size_t count);

#if defined(_MSC_VER) && !defined(__clang__)
#pragma function(memset, memcpy)
#define NOT_A_BUILTIN
#elif defined(__clang__)
#define NOT_A_BUILTIN __attribute__((no_builtin("memset", "memcpy")))
#else
#define NOT_A_BUILTIN
#endif

extern "C" NOT_A_BUILTIN void* memset(void* destination, int value, size_t count)
{
    unsigned char* d = static_cast<unsigned char*>(destination);
    while (count-- > 0)
        *d++ = static_cast<unsigned char>(value);
    return destination;
}

extern "C" NOT_A_BUILTIN void* memcpy(void* destination, const void* source, size_t count)
{
    unsigned char* d = static_cast<unsigned char*>(destination);
    const unsigned char* s = static_cast<const unsigned char*>(source);
    while (count-- > 0)
        *d++ = *s++;
    return destination;
}
