// The encoding of text files: UTF-8 when valid, else Windows-1252, and the byte-order marks.
#include "platform/import/xvl_encoding.h"

#include <gtest/gtest.h>

using namespace dz::xvl;

TEST(TextEncoding, Utf8IsValidatedStrictly) {
    EXPECT_TRUE(IsValidUtf8("plain text, caf\xC3\xA9, \xE2\x82\xAC and \xF0\x9F\x98\x80 across the eight-byte steps"));
    // Overlong forms, a surrogate, beyond U+10FFFF, Windows-1252 letters, a lone continuation.
    for (const char* bad : {"\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "d\xE9j\xE0 vu", "\x80"})
        EXPECT_FALSE(IsValidUtf8(bad)) << bad;
    EXPECT_FALSE(IsValidUtf8("ab\xC3"));
    EXPECT_TRUE(IsValidUtf8("ab\xC3", true)) << "the head of a file may end inside a character";
    EXPECT_EQ(DecideEncoding("\xEF\xBB\xBF" "caf\xC3\xA9"), TextEncoding::Utf8);
    EXPECT_EQ(DecideEncoding("caf\xE9"), TextEncoding::Windows1252);
}

TEST(TextEncoding, Windows1252ConvertsBothWaysAndByteOrderMarks) {
    EXPECT_EQ(ToUtf8("\x80 caf\xE9 \x93q\x94 \x81", TextEncoding::Windows1252),
              "\xE2\x82\xAC caf\xC3\xA9 \xE2\x80\x9Cq\xE2\x80\x9D \xC2\x81");
    EXPECT_EQ(FromUtf8("\xE2\x82\xAC caf\xC3\xA9 \xE2\x98\x83", TextEncoding::Windows1252), "\x80 caf\xE9 ?");
    EXPECT_EQ(FindByteOrderMark("\xFF\xFE#"), ByteOrderMark::Utf16);
    EXPECT_EQ(FindByteOrderMark("\xFE\xFF"), ByteOrderMark::Utf16);
    EXPECT_EQ(FindByteOrderMark("\xEF\xBB\xBF#"), ByteOrderMark::Utf8);
    EXPECT_EQ(FindByteOrderMark("#\xEF\xBB\xBF"), ByteOrderMark::None);
    std::string out;
    EXPECT_FALSE(DecodeTextFile("\xFF\xFE#", out));
    ASSERT_TRUE(DecodeTextFile("\xEF\xBB\xBF#,caf\xC3\xA9\n", out));
    EXPECT_EQ(out, "#,caf\xC3\xA9\n");
    ASSERT_TRUE(DecodeTextFile("#,caf\xE9\n", out));
    EXPECT_EQ(out, "#,caf\xC3\xA9\n");
}
