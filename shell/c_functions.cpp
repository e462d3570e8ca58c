// The handful of C library functions the program and the compiler's own code
// call, so that it needs no C runtime library (see runtime.cpp). Plain loops
// over bytes, with nothing of Windows in them.
//
// Built without the compiler's built-in versions of these functions, so
// that it never turns a loop below back into a call of the function itself.
#include <stddef.h>

extern "C" {

void* memcpy(void* to, const void* from, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(to);
    const unsigned char* in = static_cast<const unsigned char*>(from);
    while (count--)
        *out++ = *in++;
    return to;
}

void* memmove(void* to, const void* from, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(to);
    const unsigned char* in = static_cast<const unsigned char*>(from);
    if (out <= in || out >= in + count) return memcpy(to, from, count);
    while (count--)
        out[count] = in[count];
    return to;
}

void* memset(void* to, int value, size_t count)
{
    unsigned char* out = static_cast<unsigned char*>(to);
    while (count--)
        *out++ = static_cast<unsigned char>(value);
    return to;
}

int memcmp(const void* a, const void* b, size_t count)
{
    const unsigned char* left = static_cast<const unsigned char*>(a);
    const unsigned char* right = static_cast<const unsigned char*>(b);
    for (; count--; ++left, ++right)
        if (*left != *right) return *left < *right ? -1 : 1;
    return 0;
}

void* memchr(const void* where, int value, size_t count)
{
    const unsigned char* at = static_cast<const unsigned char*>(where);
    for (; count--; ++at)
        if (*at == static_cast<unsigned char>(value)) return const_cast<unsigned char*>(at);
    return nullptr;
}

size_t strlen(const char* text)
{
    const char* end = text;
    while (*end)
        ++end;
    return static_cast<size_t>(end - text);
}

int strncmp(const char* a, const char* b, size_t count)
{
    for (; count--; ++a, ++b) {
        if (*a != *b) return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b) ? -1 : 1;
        if (!*a) break;
    }
    return 0;
}

char* strrchr(const char* text, int character)
{
    const char* found = nullptr;
    do {
        if (*text == static_cast<char>(character)) found = text;
    } while (*text++);
    return const_cast<char*>(found);
}

char* strpbrk(const char* text, const char* set)
{
    for (; *text; ++text)
        for (const char* member = set; *member; ++member)
            if (*text == *member) return const_cast<char*>(text);
    return nullptr;
}

} // extern "C"
