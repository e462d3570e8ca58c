// The C functions the menu carries itself (shell/c_functions.cpp), built
// natively under the names autorun_NAME, against the C library's own on the
// same inputs: every overlap of a move in both directions, lengths of zero,
// bytes above 0x7F (compared unsigned), values beyond a byte, and no byte
// written outside the count.
#include <gtest/gtest.h>

#include <stddef.h>
#include <string.h>

#include <string>
#include <vector>

extern "C" {
void* autorun_memcpy(void* to, const void* from, size_t count);
void* autorun_memmove(void* to, const void* from, size_t count);
void* autorun_memset(void* to, int value, size_t count);
int autorun_memcmp(const void* a, const void* b, size_t count);
void* autorun_memchr(const void* where, int value, size_t count);
size_t autorun_strlen(const char* text);
int autorun_strncmp(const char* a, const char* b, size_t count);
char* autorun_strrchr(const char* text, int character);
char* autorun_strpbrk(const char* text, const char* set);
}

namespace {

using Bytes = std::vector<unsigned char>;

Bytes Pattern()
{
    Bytes bytes(40);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<unsigned char>(0x80 + 37 * i);
    return bytes;
}

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

// Every source and destination within one buffer, overlapping either way or
// not at all, and every count that fits, zero included.
TEST(CFunctions, MemmoveWithinOneBufferAsTheCLibrary)
{
    const Bytes original = Pattern();
    for (size_t from = 0; from < 16; ++from) {
        for (size_t to = 0; to < 16; ++to) {
            for (size_t count = 0; count <= 24; ++count) {
                SCOPED_TRACE("from " + std::to_string(from) + " to " + std::to_string(to) + ", " +
                             std::to_string(count) + " bytes");
                Bytes ours = original, theirs = original;
                EXPECT_EQ(autorun_memmove(ours.data() + to, ours.data() + from, count), ours.data() + to);
                memmove(theirs.data() + to, theirs.data() + from, count);
                ASSERT_TRUE(ours == theirs);
            }
        }
    }
}

// Between two buffers, at any alignment: exactly `count` bytes change.
TEST(CFunctions, MemcpyAndMemsetWriteExactlyTheCount)
{
    const Bytes source = Pattern();
    for (size_t at = 0; at < 8; ++at) {
        for (size_t count = 0; count <= 24; ++count) {
            SCOPED_TRACE("at " + std::to_string(at) + ", " + std::to_string(count) + " bytes");
            Bytes ours(40, 0x5A), theirs(40, 0x5A);
            EXPECT_EQ(autorun_memcpy(ours.data() + at, source.data() + 3, count), ours.data() + at);
            memcpy(theirs.data() + at, source.data() + 3, count);
            EXPECT_TRUE(ours == theirs) << "memcpy";
            for (const int value : {0, 0x7F, 0xA5, 0x1FF, -1}) {
                SCOPED_TRACE("value " + std::to_string(value));
                EXPECT_EQ(autorun_memset(ours.data() + at, value, count), ours.data() + at);
                memset(theirs.data() + at, value, count);
                EXPECT_TRUE(ours == theirs) << "memset";
            }
        }
    }
}

TEST(CFunctions, ComparisonsAndSearchesAsTheCLibrary)
{
    struct Case {
        const char *a, *b;
    } pairs[] = {
        {"", ""},           {"a", ""},          {"", "a"},        {"abc", "abc"},
        {"abc", "abd"},     {"abd", "abc"},     {"ab", "abc"},    {"abc", "ab"},
        {"a\x80", "a\x7F"}, {"a\x7F", "a\x80"}, {"\xFF", "\x01"}, {"same\0x", "same\0y"},
    };
    for (const Case& c : pairs) {
        for (size_t count = 0; count <= 5; ++count) {
            SCOPED_TRACE(std::string("\"") + c.a + "\" \"" + c.b + "\", " + std::to_string(count));
            EXPECT_EQ(Sign(autorun_strncmp(c.a, c.b, count)), Sign(strncmp(c.a, c.b, count))) << "strncmp";
            // memcmp reads the whole count: only within both strings' bytes.
            const size_t within = std::min({count, strlen(c.a) + 1, strlen(c.b) + 1});
            EXPECT_EQ(Sign(autorun_memcmp(c.a, c.b, within)), Sign(memcmp(c.a, c.b, within))) << "memcmp";
        }
    }

    const char* texts[] = {"", "a", "C:\\disc\\autorun.exe", "\"quoted name\" /arg", "\xE9t\xE9\\\xE9"};
    const int characters[] = {'\\', '"', ' ', 'a', '\xE9', 0xE9, 0x100 + '\\', '\0', 'z'};
    const char* sets[] = {"", "\\", " \t\"", "\xE9", "zq"};
    for (const char* text : texts) {
        SCOPED_TRACE(std::string("\"") + text + "\"");
        EXPECT_EQ(autorun_strlen(text), strlen(text));
        for (const int character : characters) {
            SCOPED_TRACE("character " + std::to_string(character));
            EXPECT_EQ(autorun_strrchr(text, character), strrchr(text, character)) << "strrchr";
            for (size_t count = 0; count <= strlen(text) + 1; ++count)
                EXPECT_EQ(autorun_memchr(text, character, count), memchr(text, character, count)) << "memchr";
        }
        for (const char* set : sets)
            EXPECT_EQ(autorun_strpbrk(text, set), strpbrk(text, set)) << "strpbrk \"" << set << "\"";
    }
}

} // namespace
