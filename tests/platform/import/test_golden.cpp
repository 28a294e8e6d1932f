// A whole text file through the import, the way the converters drive it, against golden files:
// what each record became, the reject file and the stamped text file.
#include "import_fixture.h"

#include "platform/suite/xd.h"

using namespace dz;
using namespace dz::xvl;
using namespace dz::xvl::test;

namespace {

const fs::path kGolden = fs::path(DZ_TEST_DATA_DIR) / "import" / "golden";

std::string fmtNumber(double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f", v);
    return buf;
}

}  // namespace

class ImportGolden : public ImportFixture {};

TEST_F(ImportGolden, CustomerFileRecordsRejectsAndStamp) {
    const fs::path tplPath = fs::path(DZ_TEST_DATA_DIR) / "import" / "templates" / "xvtst.tpl";
    ASSERT_EQ(tpl.xvlImpTemplateCreate(tplPath, files), 0) << tpl.ErrorText();
    const fs::path text = dir / "customers.txt";
    fs::copy_file(kGolden / "customers.txt", text);
    const fs::path reject = dir / "RejectTST.txt";

    xvlImport imp(tpl);
    imp.xvlSetAcceptLongText(true);
    imp.xvlSetClearExtendedFields(true);
    ASSERT_TRUE(imp.xvlImpFileNames(text.string(), reject.string()));
    std::string report;
    xvlImpInfo info;
    while (imp.xvlImportNextRec(info) != 2) {
        std::string line = std::to_string(info.StartLine()) + " " + info.FormatID() + " kind " +
                           std::to_string(info.RecExtraData()) + ": ";
        std::string reason;
        if (info.Status() == 1) {
            reason = "error " + std::to_string(info.Error()) + " " + info.Message();
        } else if (info.RecExtraData() == 0) {
            uint16_t dupKey = 0;
            const int st = info.ReplaceRecord() ? xio_rep_record(handle, 1, &dupKey) : xio_wr_record(handle, 1, &dupKey);
            if (st == XIO_DUPLICATE) reason = "duplicate";
            else line += Get(1, "CUSTID").text + "|" + Get(1, "CNAME").text + "|" + fmtNumber(Get(1, "CBAL").number) + "|" +
                         std::to_string(Get(1, "CSINCE").date.month) + "/" + std::to_string(Get(1, "CSINCE").date.day) +
                         "/" + std::to_string(Get(1, "CSINCE").date.year) + "|" + fmtNumber(Get(1, "CTYPE").number) +
                         "|" + Get(1, "CACCT").text + "|" +
                         imp.xvlImpGetSpecialValue(info.FormatID(), "Converted Notes")->longText;
        } else {
            if (info.ReplaceRecord()) xio_unlock_record(handle, info.ImportedRecs(), 1);
            line += "kept for the converter";
        }
        if (!reason.empty()) {
            int32_t at = 0;
            ASSERT_TRUE(imp.xvlRecToRejectFile(at));
            line += "rejected to line " + std::to_string(at) + ": " + reason;
        }
        report += line + "\n";
    }
    suite::current_company()->settings().operator_name = "Golden";
    suite::xd_set_clock(suite::xd_fixed_clock({{7, 4, 2026}, {12, 30, 0}}));
    const bool stamped = imp.xvlImpTimeStampAndCloseFile(true, true, "xvtst");
    suite::xd_set_clock(nullptr);
    ASSERT_TRUE(stamped) << imp.LastErrorText();

    if (std::getenv("DZ_UPDATE_GOLDEN")) {
        WriteFile(kGolden / "customers.report", report);
        WriteFile(kGolden / "customers.reject", ReadFile(reject));
        WriteFile(kGolden / "customers.stamped", ReadFile(text));
    }
    EXPECT_EQ(report, ReadFile(kGolden / "customers.report"));
    EXPECT_EQ(ReadFile(reject), ReadFile(kGolden / "customers.reject"));
    EXPECT_EQ(ReadFile(text), ReadFile(kGolden / "customers.stamped"));
}

TEST_F(ImportGolden, GroupRecordsReplaceWhenOnFileAndAddOtherwise) {
    MakeTemplate("format I\n file TST 1\n record 2\n permissions 3\n field INVNO\n field IAMT\n");
    xio_init_record(handle, 2);
    x_value_def v;
    v.text = "INV1";
    xio_put_field(handle, 2, Fld(2, "INVNO"), v);
    v.number = 500;
    xio_put_field(handle, 2, Fld(2, "IAMT"), v);
    ASSERT_EQ(xio_wr_record(handle, 2), XIO_OK);
    const auto txt = Text("g.txt", "#,TST,x\r\nI,inv1,7.00\r\nI,INV2,8.00\r\n");
    xvlImport imp(tpl);
    imp.xvlSetClearExtendedFields(true);
    ASSERT_TRUE(imp.xvlImpFileNames(txt.string(), ""));
    xvlImpInfo info;
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_TRUE(info.ReplaceRecord());
    EXPECT_EQ(Get(2, "INVNO").text, "INV1");
    EXPECT_EQ(Get(2, "IAMT").number, 700);
    ASSERT_EQ(xio_rep_record(handle, 2), XIO_OK);
    ASSERT_EQ(imp.xvlImportNextRec(info), 0) << info.Message();
    EXPECT_FALSE(info.ReplaceRecord());
}
