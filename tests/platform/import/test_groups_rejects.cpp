// Record groups and the reject file.
#include "import_fixture.h"

#include <gmock/gmock.h>

#include "platform/import/xvl_messages.h"
#include <fcntl.h>
#include <ostream>

using namespace dz;
using namespace dz::xvl;
using namespace dz::xvl::test;
using ::testing::HasSubstr;

namespace {

// Invoices (I) with lines (L) and line payments (D), and checks (K) that stand alone.
constexpr const char* kGroupTemplate = R"(format I
  file TST 1
  record 2
  field INVNO
  field ICUST
  field IAMT
format L
  file TST 1
  record 3
  field LINV
  field LSEQ
  field LAMT
format D
  file TST 1
  record 3
  field LINV
  field LSEQ
  field LAMT
format K
  file TST 1
  record 4
  field CHKNO
  field CHKAMT
group I
group K
depend I L
depend L L
depend L D
depend D D
depend D L
depend L end
depend D end
depend K end
)";

struct Seen {
    std::vector<std::string> calls;
    std::string refuseAt;  // format id + start line that the callback refuses
    uint16_t handle = 0;
};

bool groupCB(xvlImpInfo& info, std::string& reason, void* ctx) {
    auto* s = static_cast<Seen*>(ctx);
    // The record is staged when the callback sees it.
    x_value_def v;
    const char* keyName = info.ImportedRecs() == 2 ? "INVNO" : info.ImportedRecs() == 3 ? "LINV" : "CHKNO";
    xio_get_field(s->handle, info.ImportedRecs(), xio_num(s->handle, XIO_NUM_RECORD, info.ImportedRecs(), keyName), v);
    const std::string me = info.FormatID() + std::to_string(info.StartLine());
    s->calls.push_back(me + ":" + v.text + "@" + info.GroupID() + std::to_string(info.GroupStartLine()));
    if (me == s->refuseAt) {
        reason = "Refused by the converter(123)";
        return false;
    }
    return true;
}

}  // namespace

class ImportGroups : public ImportFixture {
protected:
    void SetUp() override {
        ImportFixture::SetUp();
        MakeTemplate(kGroupTemplate);
        seen.handle = handle;
    }
    Seen seen;
};

TEST_F(ImportGroups, ReadsGroupsByTheirDependencies) {
    const auto txt = Text("g.txt",
                          "#,TST,xvgrp\r\n"
                          "I,100,C1,10.00\r\nL,100,1,4.00\r\nD,100,1,4.00\r\nL,100,2,6.00\r\n"
                          "K,900,10.00\r\n"
                          "I,101,C2,5.00\r\nL,101,1,5.00\r\n");
    xvlImport imp(tpl);
    imp.xvlSetGroupCB(groupCB, &seen);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextGroup(info), 0) << info.Message();
    EXPECT_EQ(info.GroupID(), "I");
    EXPECT_EQ(info.GroupImportedRec(), 2);
    EXPECT_EQ(info.GroupStartLine(), 2);
    EXPECT_EQ(info.FormatID(), "L") << "the record read last";
    EXPECT_EQ(info.StartLine(), 5);
    ASSERT_EQ(imp.xvlImportNextGroup(info), 0) << info.Message();
    EXPECT_EQ(info.GroupID(), "K");
    EXPECT_EQ(info.GroupStartLine(), 6);
    ASSERT_EQ(imp.xvlImportNextGroup(info), 0) << info.Message();
    EXPECT_EQ(info.GroupStartLine(), 7);
    EXPECT_EQ(imp.xvlImportNextGroup(info), 2);
    EXPECT_EQ(seen.calls, (std::vector<std::string>{"I2:100@I2", "L3:100@I2", "D4:100@I2", "L5:100@I2", "K6:900@K6",
                                                    "I7:101@I7", "L8:101@I7"}));
}

struct BreakCase {
    const char* name;
    const char* body;      // lines after the "#" line
    int error;
    const char* formatId;  // of the failing record
    int startLine;         // of the failing record
    const char* message;
    int groupLines;        // lines the rejected group takes
    const char* nextGroup; // id of the group after it ("" = end)
};
// A failing case is named by this, not by its bytes.
static void PrintTo(const BreakCase& c, std::ostream* os) { *os << c.name; }

class ImportGroupBreaks : public ImportGroups, public ::testing::WithParamInterface<BreakCase> {};

TEST_P(ImportGroupBreaks, WholeGroupGoesToTheRejectFile) {
    const BreakCase& c = GetParam();
    const std::string head = "#,TST,xvgrp\r\n";
    const auto txt = Text("g.txt", head + c.body);
    const auto rej = dir / "RejectTST.txt";
    xvlImport imp(tpl);
    seen.refuseAt = "L4";
    imp.xvlSetGroupCB(groupCB, &seen);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), rej.string()));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextGroup(info), 1) << c.name;
    EXPECT_EQ(info.Status(), 1);
    EXPECT_EQ(info.Error(), c.error) << c.name << ": " << info.Message();
    EXPECT_EQ(info.FormatID(), c.formatId) << c.name;
    EXPECT_EQ(info.StartLine(), c.startLine) << c.name;
    EXPECT_EQ(info.Message(), c.message) << c.name;
    EXPECT_EQ(info.GroupStartLine(), 2);
    int32_t line = -1;
    ASSERT_TRUE(imp.xvlGroupToRejectFile(line));
    EXPECT_EQ(line, 2);
    // The converter's arithmetic finds the failing record in the reject file.
    const int32_t failing = line - info.GroupStartLine() + info.StartLine();

    // The group's lines, byte for byte, after the "#" line.
    std::string expected = head;
    std::size_t at = 0;
    const std::string body = c.body;
    for (int i = 0; i < c.groupLines; ++i) at = body.find("\r\n", at) + 2;
    expected += body.substr(0, at);
    EXPECT_EQ(ReadFile(rej), expected) << c.name;
    std::size_t p = 0;
    for (int i = 1; i < failing; ++i) p = expected.find("\r\n", p) + 2;
    EXPECT_EQ(expected.substr(p, std::string(c.formatId).size() + 1), std::string(c.formatId) + ",") << c.name;

    const int next = imp.xvlImportNextGroup(info);
    if (std::string(c.nextGroup).empty()) {
        EXPECT_EQ(next, 2) << c.name;
    } else {
        EXPECT_EQ(next, 0) << c.name << ": " << info.Message();
        EXPECT_EQ(info.GroupID(), c.nextGroup) << c.name;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Import, ImportGroupBreaks,
    ::testing::Values(
        BreakCase{"record error", "I,1,C,1.00\r\nL,1,1,x\r\nL,1,2,1.00\r\nK,9,1.00\r\n", kErrNotConvertible, "L", 3,
                  "Line amount expects a number, not 'x' (fld 3, col 4)", 3, "K"},
        BreakCase{"callback refuses", "I,1,C,1.00\r\nL,1,1,1.00\r\nL,1,2,1.00\r\nD,1,2,1.00\r\nI,2,C,1.00\r\nL,2,1,1.00\r\n",
                  kErrRefused, "L", 4, "Refused by the converter(123)", 4, "I"},
        BreakCase{"out of order", "I,1,C,1.00\r\nD,1,1,1.00\r\nL,1,1,1.00\r\nK,9,1.00\r\n", kErrGroupOrder, "D", 3,
                  "Record type 'D' can't follow record type 'I' in a group (fld 1, col 1)", 3, "K"},
        BreakCase{"ends too early", "I,1,C,1.00\r\nK,9,1.00\r\n", kErrGroupOrder, "I", 2,
                  "The group that starts with record type 'I' ends after record type 'I' too early (fld 1, col 1)", 1, "K"},
        BreakCase{"ends at the end of the file", "I,1,C,1.00\r\n", kErrGroupOrder, "I", 2,
                  "The group that starts with record type 'I' ends after record type 'I' too early (fld 1, col 1)", 1, ""},
        BreakCase{"cannot start", "L,1,1,1.00\r\nD,1,1,1.00\r\nI,2,C,1.00\r\nL,2,1,1.00\r\n", kErrGroupOrder, "L", 2,
                  "Record type 'L' can't start a group (fld 1, col 1)", 2, "I"},
        BreakCase{"unknown record", "I,1,C,1.00\r\nQ,1\r\nL,1,1,1.00\r\nK,9,1.00\r\n", kErrGroupOrder, "Q", 3,
                  "Record type 'Q' can't follow record type 'I' in a group (fld 1, col 1)", 3, "K"}),
    CaseName());

class ImportRejects : public ImportFixture {
protected:
    void SetUp() override {
        ImportFixture::SetUp();
        MakeTemplate(kCustomerTemplate);
    }
};

TEST_F(ImportRejects, MadeAtTheFirstRejectWithTheTypeLineFirst) {
    // Mixed line ends and 8-bit bytes; the last line has no line end.
    const std::string body = "#,TST,xvtst,\"DUPS OK\"\n\r"
                             "C,a,n,,,,,,,,\n\r"
                             "C,b,caf\xe9,,,,,,,,\n\r"
                             "# comment\n\r"
                             "C,c,n,,,,,,,,\n\r"
                             "C,d,n,,,,,,,,";
    const auto txt = Text("r.txt", body);
    const auto rej = dir / "RejectTST.txt";
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), rej.string()));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0);  // a: accepted
    EXPECT_FALSE(fs::exists(rej)) << "a clean run leaves no reject file";
    ASSERT_EQ(imp.xvlImportNextRec(info), 0);  // b: rejected by the caller
    int32_t line = 0;
    ASSERT_TRUE(imp.xvlRecToRejectFile(line));
    EXPECT_EQ(line, 2);
    EXPECT_TRUE(imp.xvlRecToRejectFile(line)) << "nothing more to copy";
    EXPECT_EQ(line, 0);
    ASSERT_EQ(imp.xvlImportNextRec(info), 0);  // c: accepted
    EXPECT_EQ(info.StartLine(), 5);
    ASSERT_EQ(imp.xvlImportNextRec(info), 0);  // d: rejected with a reason first
    ASSERT_TRUE(imp.xvlRecToRejectFile(line, "Duplicate Customer\r(76)"));
    EXPECT_EQ(line, 4);
    EXPECT_EQ(ReadFile(rej), "#,TST,xvtst,\"DUPS OK\"\n\r"
                             "C,b,caf\xe9,,,,,,,,\n\r"
                             "# Duplicate Customer (76)\n\r"
                             "C,d,n,,,,,,,,\n\r");
}

// CR-only lines: a quoted memo over four lines ("#" and blank lines inside it are its own), a
// line break in a short field, and a quote that never closes.
TEST_F(ImportRejects, ARecordOverSeveralLinesIsReadAndRejectedWhole) {
    const std::string memo = "C,a,n,,,,,,,\"memo\r# kept\r\rend\",\r";         // lines 2-5
    const std::string broken = "C,b,\"name\r\nbroken\",,,,,,,,\r";                 // lines 6-7
    const std::string open = "C,c,n,,,,,,,\"open \"\"memo\rC,d,n,,,,,,,,\r";       // lines 8-9
    const auto txt = Text("r.txt", "#,TST,xvtst\r" + memo + broken + open);
    const auto rej = dir / "RejectTST.txt";
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), rej.string()));
    xvlImpInfo info;
    std::string id;
    ASSERT_EQ(imp.xvlImpWhatIsNextID(id, info), 0);
    EXPECT_EQ(info.StartLine(), 2);
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_EQ(info.StartLine(), 2);
    EXPECT_EQ(Get(1, "CMEMO").text, "memo\r# kept\r\rend");

    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.StartLine(), 6);
    EXPECT_THAT(info.Message(), HasSubstr("Customer name can't hold a line break, and 'name  broken' has one (fld 2, col 3)"));
    int32_t line = 0;
    ASSERT_TRUE(imp.xvlRecToRejectFile(line));
    EXPECT_EQ(line, 2);

    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    EXPECT_EQ(info.StartLine(), 8);
    EXPECT_EQ(info.Error(), kErrQuotes);
    EXPECT_THAT(info.Message(), HasSubstr("before the end of the file: the record takes 2 line(s) (fld 9, col 10)"));
    ASSERT_TRUE(imp.xvlRecToRejectFile(line));
    EXPECT_EQ(line, 4);
    EXPECT_EQ(imp.xvlImportNextRec(info), 2);
    EXPECT_EQ(ReadFile(rej), "#,TST,xvtst\r" + broken + open);
}

TEST_F(ImportRejects, ARecordReadAheadIsRejectedWithItsPartner) {
    StoreCustomer("x", "stored");
    const auto txt = Text("r.txt", "#,TST,xvtst\r\nC,a,n,,,,,,,,\r\n\r\nCN,x,note,\r\nC,b,n,,,,,,,,\r\nC,c,n,,,,,,,,\r\n");
    const auto rej = dir / "RejectTST.txt";
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), rej.string()));
    xvlImpInfo rec, ahead;
    std::string id;
    ASSERT_EQ(imp.xvlImportNextRec(rec), 0);
    ASSERT_EQ(imp.xvlImpWhatIsNextID(id, ahead), 0);
    ASSERT_EQ(id, "CN");
    ASSERT_EQ(imp.xvlImportNextRec(ahead), 0) << ahead.Message();
    int32_t line = 0;
    ASSERT_TRUE(imp.xvlRecToRejectFile(line));
    EXPECT_EQ(line, 2);
    // The partner's reject line is the first's plus the distance of their start lines.
    EXPECT_EQ(line + ahead.StartLine() - rec.StartLine(), 4);
    ASSERT_EQ(imp.xvlImportNextRec(rec), 0);  // b: accepted
    ASSERT_EQ(imp.xvlImportNextRec(rec), 0);  // c: rejected alone
    ASSERT_TRUE(imp.xvlRecToRejectFile(line));
    EXPECT_EQ(line, 5);
    EXPECT_EQ(ReadFile(rej), "#,TST,xvtst\r\nC,a,n,,,,,,,,\r\n\r\nCN,x,note,\r\nC,c,n,,,,,,,,\r\n");
}

TEST_F(ImportRejects, RefusedRecordsAndFilesWithoutTypeLine) {
    const auto txt = Text("r.txt", "C,a,n\r\n");
    const auto rej = dir / "Reject1TST.txt";
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), rej.string()));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    int32_t line = 0;
    ASSERT_TRUE(imp.xvlRecToRejectFile(line));
    EXPECT_EQ(line, 1);
    EXPECT_EQ(ReadFile(rej), "C,a,n\r\n");
}

TEST_F(ImportRejects, NoRejectFileIsASuccessfulNoOp) {
    const auto txt = Text("r.txt", "#,TST,xvtst\r\nC,a,n\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    int32_t line = 7;
    EXPECT_TRUE(imp.xvlRecToRejectFile(line));
    EXPECT_EQ(line, 0);
}

TEST_F(ImportRejects, AFolderThatCannotTakeTheRejectFileFailsTheOpen) {
    const auto txt = Text("r.txt", "#,TST,xvtst\r\nC,a,n\r\n");
    xvlImport imp(tpl);
    EXPECT_FALSE(imp.xvlImpFileNames(txt.string(), (dir / "no such folder" / "RejectTST.txt").string()));
    // Said as the cause that follows "Unable to open ...": the folder, and why.
    EXPECT_TRUE(imp.RejectFileRefused());
    EXPECT_EQ(imp.LastErrorText(),
              "not the text file but its reject file, RejectTST.txt, cannot be made in " + (dir / "no such folder").string() +
                  ": No such file or directory");
    EXPECT_FALSE(imp.xvlImpFileNames(txt.string(), dir.string())) << "a folder is no reject file";
    EXPECT_FALSE(imp.xvlImpFileNames((dir / "none.txt").string(), ""));
}

TEST_F(ImportRejects, AWriteFailureIsReported) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    const auto txt = Text("r.txt", "#,TST,xvtst\r\nC,a,n\r\n");
    xvlImport imp(tpl);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), "/dev/full"));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 1);
    int32_t line = 0;
    EXPECT_FALSE(imp.xvlRecToRejectFile(line));
    EXPECT_FALSE(imp.xvlRejectFileFull()) << "a name that exists is no full disk";

    // The reject file's disk fills after its first record: the next write says so.
    const fs::path reject = dir / "RejTST.txt";
    xvlImport full(tpl);
    ASSERT_TRUE(full.xvlImpFileNames(Text("f.txt", "#,TST,xvtst\r\nC,a,n\r\nC,b,n\r\n").string(), reject.string()));
    ASSERT_EQ(full.xvlImportNextRec(info), 1);
    ASSERT_TRUE(full.xvlRecToRejectFile(line));
    int rejectFd = -1;  // the reject file's descriptor, found by its name
    for (const auto& e : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        if (fs::read_symlink(e.path(), ec) == fs::canonical(reject)) rejectFd = std::stoi(e.path().filename().string());
    }
    ASSERT_GE(rejectFd, 0);
    const int device = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(device, 0);
    ASSERT_EQ(::dup2(device, rejectFd), rejectFd);
    ::close(device);
    ASSERT_EQ(full.xvlImportNextRec(info), 1);
    EXPECT_FALSE(full.xvlRecToRejectFile(line));
    EXPECT_TRUE(full.xvlRejectFileFull());
}
