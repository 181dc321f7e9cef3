#include "app/text.h"

size_t TextLength(const char* text)
{
    size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

bool TextEquals(const char* a, const char* b)
{
    while (*a != '\0' && *a == *b) {
        ++a;
        ++b;
    }
    return *a == *b;
}

// Byte for byte and case-sensitive; an empty fragment is contained in every text.
bool TextContains(const char* text, const char* fragment)
{
    for (;; ++text) {
        size_t i = 0;
        while (fragment[i] != '\0' && text[i] == fragment[i])
            ++i;
        if (fragment[i] == '\0')
            return true;
        if (*text == '\0')
            return false;
    }
}

bool TextHasByte(const char* text, char byte)
{
    for (; *text != '\0'; ++text) {
        if (*text == byte)
            return true;
    }
    return false;
}

bool CopyText(char* buffer, size_t capacity, const char* text)
{
    size_t length = TextLength(text);
    if (length >= capacity)
        return false;
    for (size_t i = 0; i <= length; ++i)
        buffer[i] = text[i];
    return true;
}

bool AppendText(char* buffer, size_t capacity, const char* text)
{
    size_t used = TextLength(buffer);
    if (used >= capacity)
        return false;
    return CopyText(buffer + used, capacity - used, text);
}
