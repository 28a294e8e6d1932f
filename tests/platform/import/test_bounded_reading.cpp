// The text file is read in pieces: records across the pieces' seams, records too long to hold,
// and lines of very many columns, in memory that does not grow with the file.
#include "import_fixture.h"

#include <gmock/gmock.h>

#include "platform/import/xvl_messages.h"
#include "platform/import/xvl_source.h"

#include <cstring>
#include <fstream>
#include <sys/wait.h>

using namespace dz;
using namespace dz::xvl;
using namespace dz::xvl::test;

namespace {

constexpr const char* kHead = "#,TST,xvtst\r\n";
const std::string kGood = "C,ab1,Name,,,,,,,,\r\n";

// Every record's first line and status, to the end.
std::vector<std::pair<int32_t, int>> ReadAll(xvlImport& imp) {
    std::vector<std::pair<int32_t, int>> out;
    xvlImpInfo info;
    for (int rc = imp.xvlImportNextRec(info); rc != 2; rc = imp.xvlImportNextRec(info)) out.emplace_back(info.StartLine(), rc);
    return out;
}

// A figure of /proc/self/status, in kilobytes: VmRSS now, VmHWM the peak.
long StatusKilobytes(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::strlen(field)));
    return 0;
}
long ResidentKilobytes() { return StatusKilobytes("VmRSS:"); }
long PeakKilobytes() { return StatusKilobytes("VmHWM:"); }

}  // namespace

class BoundedReading : public ImportFixture {};

// Line ends of every kind, and Ctrl-Z, falling on the seam between two pieces.
TEST_F(BoundedReading, RecordsAcrossTheSeamOfTwoPiecesReadAsInOne) {
    MakeTemplate(kCustomerTemplate);
    for (const std::string& end : std::vector<std::string>{"\r\n", "\n\r", "\r", "\n", "\r\x1a\n"}) {
        for (std::size_t shift = 0; shift < 4; ++shift) {
            SCOPED_TRACE(testing::Message() << "end " << end.size() << " shift " << shift);
            // A comment line that brings the next record's line end to the seam.
            std::string text = kHead;
            const std::string record = "C,ab1,Name,,,,,,,,";
            const std::size_t fill = TextSource::kPiece - text.size() - 2 - end.size() - record.size() - 1 + shift;
            text += "#" + std::string(fill, 'x') + end + record + end + record + end;
            const auto txt = Text("c.txt", text);
            xvlImport imp(tpl);
            ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
            const std::vector<std::pair<int32_t, int>> want{{3, 0}, {4, 0}};
            EXPECT_EQ(ReadAll(imp), want);
        }
    }
}

// A record over the limit is refused with its reason, whole into the reject file, and the
// records after it keep their line numbers.
TEST_F(BoundedReading, ARecordOverTheLimitIsRefusedAndRejectedWhole) {
    MakeTemplate(kCustomerTemplate);
    const std::string longRecord = "C,ab9,\"" + std::string(xvlImport::kMaxRecordBytes, 'n') + "\r\nmore\",,,,,,,,\r\n";
    const auto txt = Text("c.txt", std::string(kHead) + kGood + longRecord + kGood);
    const fs::path reject = dir / "rej.txt";
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), reject.string()));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.Error(), kErrRecordTooLong);
    EXPECT_EQ(info.FormatID(), "C");
    EXPECT_EQ(info.StartLine(), 3);
    EXPECT_THAT(info.Message(), ::testing::HasSubstr("longer than 4 MB"));
    EXPECT_THAT(info.Message(), ::testing::HasSubstr("2 line(s)"));
    int32_t line = 0;
    ASSERT_TRUE(imp.xvlRecToRejectFile(line));
    EXPECT_EQ(line, 2);
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(info.StartLine(), 5);
    EXPECT_EQ(imp.xvlImportNextRec(info), 2);
    imp.xvlImpTimeStampAndCloseFile(false, true, "");
    EXPECT_TRUE(ReadFile(reject) == std::string(kHead) + longRecord) << "the reject file lacks the record";
}

// Columns past the widest format are counted, not kept: the count in the message is the
// line's, and a blank tail still does not count.
TEST_F(BoundedReading, ALineOfAMillionColumnsIsCountedNotKept) {
    MakeTemplate(kCustomerTemplate);
    const std::string commas(1000000, ',');
    const auto txt = Text("c.txt", std::string(kHead) + "C,ab1,Name" + commas + "x\r\n" + "C,ab2,Name" + commas + "\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.Error(), kErrTooManyColumns);
    EXPECT_THAT(info.Message(), ::testing::HasSubstr("1000003"));
    EXPECT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
}

// Reading a 64 MB line of commas takes memory of the limit's order, not of the file's: the
// growth of the peak is measured in a child process of its own.
TEST_F(BoundedReading, A64MBLineOfCommasIsRefusedInBoundedMemory) {
    MakeTemplate(kCustomerTemplate);
    const fs::path txt = dir / "commas.txt";
    {
        std::ofstream out(txt, std::ios::binary);
        out << kHead << "C";
        const std::string piece(1 << 20, ',');
        for (int i = 0; i < 64; ++i) out << piece;
        out << "x\r\n" << kGood;
        out.close();
        ASSERT_TRUE(out) << "the test's text file could not be written (is the disk full?)";
    }
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // The peak so far is the parent's; what reading adds is what counts.
        const long before = ResidentKilobytes();
        xvlImport imp(tpl);
        if (!imp.xvlImpFileNames(txt.string(), "")) ::_exit(10);
        xvlImpInfo info;
        if (imp.xvlImportNextRec(info) != 1 || info.Error() != kErrRecordTooLong) ::_exit(11);
        if (imp.xvlImportNextRec(info) != 0 || info.StartLine() != 3) ::_exit(12);
        ::_exit(PeakKilobytes() - before > 32 * 1024 ? 13 : 0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "10 open, 11 not refused, 12 next record, 13 peak grew over 32 MB";
}

// The file's hash is made from the reads themselves: whatever the pieces, and however often the
// file is read again, it is the hash of its bytes in order, once, and any other byte changes it.
TEST_F(BoundedReading, TheWholeFileIsHashedOnceAsItIsRead) {
    std::string body;
    for (int i = 0; body.size() < 3 * TextSource::kPiece + 77; ++i) body += "line " + std::to_string(i) + "\r\n";
    StreamHash whole;
    whole.Add(body);
    StreamHash pieces;  // a stripe of the hash cut at every size
    for (std::size_t at = 0, n = 1; at < body.size(); at += n, n = n % 41 + 1) pieces.Add(std::string_view(body).substr(at, n));
    EXPECT_EQ(pieces.Value(), whole.Value());

    const fs::path txt = dir / "hashed.txt";
    WriteFile(txt, body);
    const auto source = TextSource::Open(txt.string());
    ASSERT_TRUE(source);
    // Read twice, in pieces and a byte here and there, as a converter of two passes reads.
    std::string head;
    ASSERT_TRUE(source->ReadHead(1000, head));
    std::vector<char> buffer(TextSource::kPiece);
    for (int pass = 0; pass < 2; ++pass)
        for (uint64_t at = 0; source->ReadAt(at, buffer.data(), 4096) > 0; at += 3000) {
        }
    uint64_t hash = 0, length = 0;
    ASSERT_TRUE(source->WholeHash(hash, length));
    EXPECT_EQ(length, body.size());
    EXPECT_EQ(hash, whole.Value());
    // Never read before: hashed here, the same.
    uint64_t fresh = 0;
    ASSERT_TRUE(TextSource::Open(txt.string())->WholeHash(fresh, length));
    EXPECT_EQ(fresh, hash);
    body[body.size() - 5] ^= 1;
    WriteFile(txt, body);
    ASSERT_TRUE(TextSource::Open(txt.string())->WholeHash(fresh, length));
    EXPECT_NE(fresh, hash);
}
