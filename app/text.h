// Small text helpers over NUL-terminated 8-bit strings, so the launcher needs no C library.
// The copy and append never truncate: a text that does not fit leaves the buffer as it was
// and says so. Texts are in the ANSI code page, where a double-byte character's second byte
// may be any byte from 0x40 up, the backslash among them.
#pragma once

#include <stddef.h>

#include "platform/win32.h"

size_t TextLength(const char* text);
bool TextEquals(const char* a, const char* b);
bool TextContains(const char* text, const char* fragment);
bool TextStartsWith(const char* text, const char* prefix);
bool TextHasByte(const char* text, char byte);
bool CopyText(char* buffer, size_t capacity, const char* text);
bool AppendText(char* buffer, size_t capacity, const char* text);

void ReadLeadBytes(CPINFO* codePage);
const char* NextCharacter(const CPINFO& codePage, const char* text);
bool EndsInBackslash(const char* text);
