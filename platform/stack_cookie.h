// The stack cookie, by the names each compiler's checks read (platform/stack_cookie.cpp).
#pragma once

#include "platform/win32.h"

// A function whose frame the compiler must not protect with the stack cookie: the entry,
// which runs before the cookie is set, and what sets it. (Not __attribute__: MinGW-w64's
// headers define it away for compilers in MSVC mode.)
#if defined(__clang__)
#define NO_STACK_COOKIE [[clang::no_stack_protector]]
#elif defined(_MSC_VER)
#define NO_STACK_COOKIE __declspec(safebuffers)
#else
#define NO_STACK_COOKIE [[gnu::no_stack_protector]]
#endif

#if defined(_MSC_VER)
extern "C" UINT_PTR __security_cookie;
#define STACK_COOKIE __security_cookie
#else
extern "C" UINT_PTR __stack_chk_guard;
#define STACK_COOKIE __stack_chk_guard
#endif

// Sets the stack cookie that protected frames check; the first thing the entry does.
void SetStackCookie();
