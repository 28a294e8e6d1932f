// The encoding of text files: UTF-8 when valid, else Windows-1252, and the byte-order marks.
#include "platform/import/xvl_encoding.h"
#include "platform/import/xvl_source.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <unistd.h>

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

// Past the first piece read, with characters cut at the pieces' ends and every kind of line end:
// the line of the first byte that is not UTF-8 is named.
TEST(TextEncoding, TheFirstLineThatIsNotUtf8IsFoundPastThePiecesRead) {
    std::string body = "\xEF\xBB\xBF#,GLM,xvglm\r\n";
    uint64_t lines = 1;
    // A Ctrl-Z between a line end and its partner leaves them one line end, as the reader has it.
    const char* ends[] = {"\r\n", "\n", "\r", "\n\r", "\r\x1a\n"};
    for (int i = 0; body.size() < 3 * TextSource::kPiece; ++i, ++lines)
        body += std::string("\xE2\x82\xAC caf\xC3\xA9") + ends[i % 5];
    const std::string bad = "cr\xE8me\r\n";
    body += bad;
    char name[] = "/tmp/dz-encoding-XXXXXX";
    const int fd = ::mkstemp(name);
    ASSERT_GE(fd, 0);
    ::close(fd);
    std::ofstream(name, std::ios::binary) << body;
    const auto source = TextSource::Open(name);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->Encoding(), TextEncoding::Windows1252);
    EXPECT_EQ(source->FirstNonUtf8Line(), lines + 1);
    std::ofstream(name, std::ios::binary) << body.substr(0, body.size() - bad.size());
    const auto utf8 = TextSource::Open(name);
    EXPECT_EQ(utf8->Encoding(), TextEncoding::Utf8);
    EXPECT_EQ(utf8->FirstNonUtf8Line(), 0u);
    ::unlink(name);
}
