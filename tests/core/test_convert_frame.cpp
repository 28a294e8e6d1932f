// The converter frame built from a profile: the default OpenFiles, the side files of other
// modules, and the 12070 tail every DispatchRecord shares.
#include "test_convert_support.h"

#include "convert/convert_file.h"
#include "convert/side_file.h"
#include "platform/datafile/data_folder.h"
#include "platform/datafile/xio.h"
#include "platform/import/xvl_import.h"

#include <gmock/gmock.h>

namespace dz::convert {
namespace {

using namespace dz::convert::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;

// A converter that is nothing but its profile.
class ProfileOnly : public xvConvert {
public:
    using xvConvert::RejectUnknownRecord;
    ConverterProfile Profile() const override { return profile; }
    ConverterProfile profile;
};

// True while the handle names an open data file.
bool IsOpen(uint16_t h) {
    xio_rec_def def;
    return h != 0 && xio_get_rec_def(h, 1, def) == XIO_OK;
}

// The name of record 1 of the file; empty when the handle names no open file.
std::string RecordName(uint16_t h) {
    xio_rec_def def;
    return h != 0 && xio_get_rec_def(h, 1, def) == XIO_OK ? def.name : std::string();
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(xio_load_dictionaries(dz::data_folder() / "dictionary", error)) << error;
        OpenCompany(company.path(), {"GL", "CM", "PR"});
        ASSERT_EQ(xio_create_file("GLM", 1, company.path() / "MASTER.GLM"), XIO_OK);
        ASSERT_EQ(xio_create_file("CMM", 1, company.path() / "MASTER.CMM"), XIO_OK);
        ASSERT_EQ(xio_create_file("PRS", 1, company.path() / "SYSTEM.PRS"), XIO_OK);
    }
    void TearDown() override {
        for (auto& e : list)
            if (e.handle) xio_cls_file(e.handle);
        suite::close_company();
    }

    std::vector<std::string> Entries() const {
        std::vector<std::string> out;
        for (const auto& e : list) out.push_back(e.abbr + (e.handle ? "" : "!"));
        return out;
    }

    ScratchDir company;
    OpenFilesList list;
};

TEST_F(FrameTest, DefaultOpenFilesAsksEachFileOnceInItsOrder) {
    ProfileOnly c;
    c.profile.abbreviation = "CMM";
    c.profile.dataFiles = {ConverterDataFile::Owned("CMM", 1, 20, "CM Master file"),
                           ConverterDataFile::ReadOnly("GLM", 1, 1, "GL Master file")};
    c.profile.dataFiles[0].openOrder = 1;  // the GL master first
    uint16_t error = 0;
    ASSERT_TRUE(c.OpenFiles(list, 3020, error));
    EXPECT_THAT(Entries(), ElementsAre("GLM", "CMM"));
    // A second text file of the same type reuses the entries.
    ASSERT_TRUE(c.OpenFiles(list, 3020, error));
    EXPECT_THAT(Entries(), ElementsAre("GLM", "CMM"));
    EXPECT_TRUE(c.profile.dataFiles[1].checked);
    EXPECT_FALSE(c.profile.dataFiles[1].backedUp || c.profile.dataFiles[1].restored);
}

TEST_F(FrameTest, DefaultOpenFilesStopsAtTheFileThatFails) {
    ProfileOnly c;
    c.profile.abbreviation = "APM";
    c.profile.dataFiles = {ConverterDataFile::Owned("APM", 1, 30, "AP Master file"),  // not created
                           ConverterDataFile::ReadOnly("GLM", 1, 1, "GL Master file")};
    uint16_t error = 0;
    EXPECT_FALSE(c.OpenFiles(list, 3020, error));
    EXPECT_NE(error, 0);
    // The failed file is the last entry (the driver names it); the GL master was not asked for.
    EXPECT_THAT(Entries(), ElementsAre("APM!"));
}

TEST_F(FrameTest, ASideFileClosesOnlyWhatItOpened) {
    ProfileOnly c;
    c.profile.abbreviation = "GLM";
    c.profile.fileCode = 1;
    uint16_t error = 0;
    ASSERT_TRUE(c.OpenFiles(list, 3020, error));
    const uint16_t runGlm = FindFileHandle(list, "GLM", 1);
    uint16_t ownCmm = 0, ownPrs = 0;
    {
        SideFile glm, cmm, prs;
        EXPECT_EQ(glm.Open(list, "GLM"), runGlm);  // the run's entry
        EXPECT_FALSE(glm.opened());
        ownCmm = cmm.Open(list, "CMM");            // MASTER.CMM, opened here
        EXPECT_TRUE(cmm.opened());
        ownPrs = prs.Open(list, "PRS", "SYSTEM");  // SYSTEM.PRS
        EXPECT_TRUE(IsOpen(ownCmm) && IsOpen(ownPrs));
        SideFile missing;
        EXPECT_EQ(missing.Open(list, "APM"), 0);
        EXPECT_FALSE(missing.opened());
    }
    EXPECT_TRUE(IsOpen(runGlm));  // the run's file stays open for the next text file
    EXPECT_FALSE(IsOpen(ownCmm));
    EXPECT_FALSE(IsOpen(ownPrs));
}

TEST_F(FrameTest, ASideFileIsClosedOnAnEarlyReturnAndWhenOpenedAgain) {
    uint16_t seen = 0;
    auto readSetting = [&](bool giveUp) {
        SideFile cmm;
        seen = cmm.Open(list, "CMM");
        if (giveUp) return false;  // the early return of a settings step
        return xio_rd_header(cmm, 2, 0) == XIO_OK;
    };
    readSetting(true);
    EXPECT_NE(seen, 0);
    EXPECT_FALSE(IsOpen(seen));

    SideFile prs;
    const uint16_t first = prs.Open(list, "PRS", "SYSTEM");
    const std::string prsRecord = RecordName(first);
    prs.Open(list, "CMM");  // lets go of SYSTEM.PRS
    EXPECT_NE(RecordName(prs), prsRecord);
    // The old handle is closed, or was taken again by the CM master (handles are reused).
    EXPECT_TRUE(!IsOpen(first) || RecordName(first) == RecordName(prs)) << RecordName(first);
    prs.Close();
    EXPECT_EQ(prs.handle(), 0);
}

TEST_F(FrameTest, UnknownRecordsAreRefusedByTheirDefinitionOrFormatId) {
    ProfileOnly c;
    c.profile.abbreviation = "CMM";
    c.profile.fileCode = 20;
    uint16_t error = 0;
    ASSERT_TRUE(c.OpenFiles(list, 3020, error));
    const fs::path tpl = company.path() / "t.tpl";
    WriteFile(tpl, "format 5\nfile CMM 1\nrecord 5\nfield LTBNKAC\n\nformat Z\nfile CMM 1\nrecord 0\nspecial X text\n");
    const fs::path text = company.path() / "t.txt";
    WriteFile(text, "#,CMM," + tpl.string() + "\r\n5,100\r\nZ,x\r\n");
    xvl::xvlImpTemplate t;
    ASSERT_EQ(t.xvlImpTemplateCreate(tpl.string(), list), 0) << t.ErrorText();
    xvl::xvlImport import(t);
    ASSERT_TRUE(import.xvlImpFileNames(text.string(), ""));
    xvl::xvlImpInfo numbered, unnumbered;
    ASSERT_EQ(import.xvlImportNextRec(numbered), 0);
    ASSERT_EQ(import.xvlImportNextRec(unnumbered), 0);
    std::string reason;
    EXPECT_FALSE(ProfileOnly::RejectUnknownRecord(numbered, reason, "CM Master file"));
    EXPECT_EQ(reason, "Record type 'Last numbers' cannot be converted as part of a CM Master file conversion(75)");
    EXPECT_FALSE(ProfileOnly::RejectUnknownRecord(unnumbered, reason, "CM Master file"));
    EXPECT_THAT(reason, HasSubstr("Record type 'Z' cannot"));
    // Named in another file, or by its format id (0); an undefined number there names nothing
    // when asked.
    EXPECT_FALSE(ProfileOnly::RejectUnknownRecord(numbered, reason, "PM Retail", 0));
    EXPECT_THAT(reason, HasSubstr("Record type '5' cannot be converted as part of a PM Retail"));
    numbered.SetImportedRecs(99);
    EXPECT_FALSE(ProfileOnly::RejectUnknownRecord(numbered, reason, "X", numbered.FileNumUsed(), false));
    EXPECT_THAT(reason, HasSubstr("Record type '' cannot"));
    EXPECT_FALSE(ProfileOnly::RejectUnknownRecord(numbered, reason, "X", numbered.FileNumUsed()));
    EXPECT_THAT(reason, HasSubstr("Record type '5' cannot"));
    import.xvlImpTimeStampAndCloseFile(false, true, "");
}

}  // namespace
}  // namespace dz::convert
