// Read before every source when clang-cl builds against MinGW-w64's Windows headers
// (cmake/clang-cl-i686.cmake). Their winnt.h, for a 32-bit target without SSE2, makes
// MemoryBarrier from __buildmemorybarrier(), which only MinGW's own intrinsics header
// defines: here it is a locked OR on the stack, a full barrier on every x86 processor.
#pragma once

#define __buildmemorybarrier() \
    { __asm__ __volatile__("lock; orl $0, (%%esp)" ::: "memory"); }
