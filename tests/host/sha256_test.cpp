// The menu's own SHA-256 against the examples FIPS 180-4 publishes (and
// lengths around a block's end), fed in one piece and in pieces that cross
// the 64-byte blocks unevenly.
#include "services/sha256.h"

#include <gtest/gtest.h>

#include <stdio.h>

#include <algorithm>
#include <string>

namespace {

std::string Digest(const std::string& message, size_t piece)
{
    Sha256 hash;
    Sha256Start(&hash);
    for (size_t at = 0; at < message.size(); at += piece)
        Sha256Add(&hash, message.data() + at, std::min(piece, message.size() - at));
    unsigned char digest[32];
    Sha256Finish(&hash, digest);
    char text[65];
    for (int i = 0; i < 32; ++i)
        snprintf(text + 2 * i, 3, "%02x", digest[i]);
    return text;
}

TEST(Sha256, PublishedExamples)
{
    const struct {
        const char* name;
        std::string message;
        const char* expected;
    } cases[] = {
        {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"448-bit message", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"896-bit message",
         "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrs"
         "mnopqrstnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {"a million a", std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
        // From 56 bytes on, the padding takes a second block.
        {"55 a", std::string(55, 'a'), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
        {"56 a", std::string(56, 'a'), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
        {"64 a", std::string(64, 'a'), "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    };
    for (const auto& c : cases)
        for (size_t piece : {size_t(1000000), size_t(1), size_t(63), size_t(64), size_t(65), size_t(4096)})
            EXPECT_EQ(Digest(c.message, piece), c.expected) << c.name << " in pieces of " << piece;
}

} // namespace
