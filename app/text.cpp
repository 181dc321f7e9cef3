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

bool TextStartsWith(const char* text, const char* prefix)
{
    while (*prefix != '\0' && *text == *prefix) {
        ++text;
        ++prefix;
    }
    return *prefix == '\0';
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

// The ANSI code page's lead-byte ranges; none when they cannot be read, as on a single-byte
// code page.
void ReadLeadBytes(CPINFO* codePage)
{
    if (!GetCPInfo(GetACP(), codePage))
        codePage->LeadByte[0] = 0;
}

static bool IsLeadByte(const CPINFO& codePage, unsigned char byte)
{
    for (unsigned i = 0; i + 1 < MAX_LEADBYTES && codePage.LeadByte[i] != 0; i += 2) {
        if (byte >= codePage.LeadByte[i] && byte <= codePage.LeadByte[i + 1])
            return true;
    }
    return false;
}

// The character after the one at `text`: a lead byte takes the byte after it along, unless
// the text ends there.
const char* NextCharacter(const CPINFO& codePage, const char* text)
{
    if (IsLeadByte(codePage, static_cast<unsigned char>(*text)) && text[1] != '\0')
        return text + 2;
    return text + 1;
}

// Whether the last character is a backslash. Judged from the start of the text: on a
// double-byte code page a last byte 0x5C may be the second half of a character such as
// "表" (0x95 0x5C in code page 932), and then the text does not end in a separator.
bool EndsInBackslash(const char* text)
{
    CPINFO codePage = {};
    ReadLeadBytes(&codePage);
    const char* last = NULL;
    for (const char* p = text; *p != '\0'; p = NextCharacter(codePage, p))
        last = p;
    return last != NULL && *last == '\\';
}
