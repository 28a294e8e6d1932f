// The references of an AP distribution checked against the CM, JC, GL and tax master files: the
// bank cleared, checked or filled in, references not found rejecting an open distribution and
// only warning on one that is not open, a commitment item that must match, and a missing tax group
// listed, or created once in Convert.
#include "test_convert_support.h"

#include "convert/lookups.h"
#include "convert/record_fields.h"
#include "converters/ap/xvapi_references.h"
#include "platform/datafile/xio.h"

#include <gmock/gmock.h>

namespace dz::ap {
namespace {

using namespace dz::convert::testing;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using Fields = std::vector<std::pair<std::string, std::string>>;

class ApiReferences : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(OpenTestCompany(company.path(), {"GL", "CM", "AP", "JC"}, [](suite::CompanySettings&) {}, error))
            << error;
        for (auto [abbr, handle] : {std::pair<const char*, uint16_t*>{"CMM", &group.cmm},
                                    {"GLM", &group.glm}, {"JCM", &group.jcm}, {"TXM", &group.txm}}) {
            const auto path = company.path() / xio_file_name(abbr, 1);
            ASSERT_EQ(xio_create_file(abbr, 1, path), XIO_OK);
            ASSERT_EQ(xio_open_file(path, XIO_OPEN_READ_WRITE, *handle), XIO_OK);
            ASSERT_EQ(xio_start_writes(*handle), XIO_OK);
        }
        group.messages = &messages;
        group.converting = false;
        conv.BNKMTHD = 2;
        Seed(group.cmm, 1, {{"BANKACC", "OPERATING"}});
        Seed(group.jcm, 1, {{"JOB", "100001"}, {"JAPBANK", "JOBBANK"}});
        Seed(group.jcm, 3, {{"PJOB", "100001"}, {"PHASE", "0110000"}});
        Seed(group.glm, 1, {{"AACCT", "01233400010"}});
        Seed(group.glm, 1, {{"AACCT", "01233200010"}});
        Seed(group.jcm, 13, {{"ISUB", "SUB1"}, {"ITEM", "3"}, {"IJOB", "100001"}, {"IPHASE", "0110000"},
                             {"IUNTCST", "125000"}});
    }
    void TearDown() override {
        for (uint16_t h : {group.cmm, group.glm, group.jcm, group.txm})
            if (h) xio_cls_file(h);
        suite::xd_set_clock({});
        suite::close_company();
    }

    static void Seed(uint16_t h, uint16_t rec, const Fields& fields) {
        xio_init_record(h, rec);
        for (const auto& [name, value] : fields) PutByName(h, rec, name, value);
        ASSERT_EQ(xio_wr_record(h, rec), XIO_OK);
    }

    // An open distribution of job 100-001, phase 01-100.00, on the expense account on file.
    static modlibs::DistImage Dist(uint16_t status = 1) {
        modlibs::DistImage d;
        d.distSequence = 1;
        d.status = status;
        d.bank = "OPERATING";
        d.job = "100001";
        d.costCode = "0110000";
        d.expenseAccount = "01233400010";
        d.payableAccount = "01233200010";
        return d;
    }
    bool Check(modlibs::DistImage& d) {
        reason.clear();
        return CheckDistributionReferences(conv, d, group, reason);
    }

    ScratchDir company;
    xvAPI conv;
    xvAPI::GroupCallbackContext group;
    convert::MessageList messages;
    std::string reason;
};

TEST_F(ApiReferences, BanksClearedByTheOperatorMethodCheckedOrFilledIn) {
    conv.BNKMTHD = 1;
    modlibs::DistImage given = Dist();
    given.payableAccount.clear();
    ASSERT_TRUE(Check(given));
    EXPECT_EQ(given.bank, "");
    EXPECT_THAT(messages, ElementsAre("The bank account use method in AP Settings is operator specified, Dist 1's "
                                      "bank 'OPERATING' will be cleared(1672)"));
    modlibs::DistImage closed = Dist(4);
    messages.clear();
    ASSERT_TRUE(Check(closed));
    EXPECT_EQ(closed.bank, "");
    EXPECT_TRUE(messages.empty());

    conv.BNKMTHD = 2;
    modlibs::DistImage unknown = Dist();
    unknown.bank = "SAVINGS";
    EXPECT_FALSE(Check(unknown));
    EXPECT_THAT(reason, HasSubstr("Bank 'SAVINGS' is not in Check Management"));
    modlibs::DistImage known = Dist();
    known.bank = "operating";
    EXPECT_TRUE(Check(known)) << reason;

    // Filled from the job, else from the AP settings' default bank.
    modlibs::DistImage fromJob = Dist();
    fromJob.bank.clear();
    ASSERT_TRUE(Check(fromJob)) << reason;
    EXPECT_EQ(fromJob.bank, "JOBBANK");
    conv.DFLTBNK = "DEFAULT";
    modlibs::DistImage fromSettings = Dist();
    fromSettings.bank.clear();
    fromSettings.job.clear();
    ASSERT_TRUE(Check(fromSettings)) << reason;
    EXPECT_EQ(fromSettings.bank, "DEFAULT");

    conv.DFLTBNK.clear();
    modlibs::DistImage none = Dist();
    none.bank.clear();
    none.job.clear();
    EXPECT_FALSE(Check(none));
    EXPECT_EQ(reason, "Unable to fill Auto assign bank from AP Settings Check Settings, from GL prefix, or from "
                      "Job(1673)");
    modlibs::DistImage noneClosed = Dist(4);
    noneClosed.bank.clear();
    noneClosed.job.clear();
    EXPECT_TRUE(Check(noneClosed)) << reason;
}

TEST_F(ApiReferences, ReferencesNotFoundRejectOpenAndWarnClosedDistributions) {
    modlibs::DistImage phase = Dist();
    phase.costCode = "0120000";
    EXPECT_FALSE(Check(phase));
    EXPECT_EQ(reason, "Distribution 1's Phase '100-001, , 01-200.00' was not found in Job Cost(1678)");
    modlibs::DistImage closedPhase = Dist(4);
    closedPhase.costCode = "0120000";
    messages.clear();
    EXPECT_TRUE(Check(closedPhase));
    EXPECT_THAT(messages, ElementsAre(HasSubstr("was not found in Job Cost(1649)")));

    conv.categoriesUsed = true;
    modlibs::DistImage category = Dist();
    category.category = "100";
    EXPECT_FALSE(Check(category));
    EXPECT_EQ(reason, "Distribution 1's Category '100-001, , 01-100.00, 100' was not found in Job Cost(1678)");
    conv.categoriesUsed = false;

    modlibs::DistImage account = Dist();
    account.payable64Account = "01233999910";
    EXPECT_FALSE(Check(account));
    EXPECT_EQ(reason,
              "Distribution 1's Retainage payable acct '01-2-33-9999-10' was not found in General Ledger(1679)");
    modlibs::DistImage closedAccount = Dist(4);
    closedAccount.expenseAccount = "01233999910";
    messages.clear();
    EXPECT_TRUE(Check(closedAccount));
    EXPECT_THAT(messages, ElementsAre(HasSubstr("Expense account '01-2-33-9999-10' was not found in General "
                                                "Ledger(1665)")));
}

TEST_F(ApiReferences, CommitmentItemsMatchInWholeTenThousandths) {
    EXPECT_TRUE(SameUnitCost(1'250'000'000, 125000));   // 12.50 and 12.5
    EXPECT_FALSE(SameUnitCost(1'251'000'000, 125000));  // 12.51

    modlibs::DistImage missing = Dist();
    missing.commitment = "SUB1";
    missing.commitmentItem = 4;
    EXPECT_FALSE(Check(missing));
    EXPECT_EQ(reason, "Distribution 1's Commitment line item 'SUB1, 4' was not found in Job Cost(1678)");

    modlibs::DistImage same = Dist();
    same.commitment = "sub1";
    same.commitmentItem = 3;
    same.unitCost = 1'250'000'000;
    EXPECT_TRUE(Check(same)) << reason;

    modlibs::DistImage other = same;
    other.unitCost = 1'251'000'000;
    EXPECT_FALSE(Check(other));
    EXPECT_EQ(reason, "Commitment 'sub1, 3, 100001, , 0110000, , 12.5100' isn't 'sub1, 3, 100001, , 0110000, , "
                      "12.5000'(1680)");
    other.status = 4;
    messages.clear();
    EXPECT_TRUE(Check(other));
    EXPECT_THAT(messages, ElementsAre(HasSubstr("(1677)")));
}

TEST_F(ApiReferences, TaxGroupsNeedATaxAndMissingOnesAreListedOrCreated) {
    Seed(group.txm, 2, {{"GROUP", "G3"}, {"GTAX3", "ST"}});
    Seed(group.txm, 2, {{"GROUP", "EMPTY"}});
    modlibs::DistImage third = Dist();
    third.taxGroup = "G3";
    EXPECT_TRUE(Check(third)) << reason;
    modlibs::DistImage empty = Dist(4);
    empty.taxGroup = "EMPTY";
    EXPECT_FALSE(Check(empty));
    EXPECT_EQ(reason, "Distribution 1's Tax group 'EMPTY' does not contain any tax rates(1650)");

    // The first pass neither lists nor creates; Examine Files lists every distribution naming it.
    modlibs::DistImage newGroup = Dist();
    newGroup.taxGroup = "NEW";
    group.pass1 = true;
    EXPECT_TRUE(Check(newGroup));
    group.pass1 = false;
    EXPECT_TRUE(Check(newGroup));
    EXPECT_TRUE(Check(newGroup));
    EXPECT_THAT(conv.taxGroupList, ElementsAre("NEW", "NEW"));
    EXPECT_FALSE(convert::Exists(group.txm, 2, {{"GROUP", "NEW"}}));

    // Convert creates it once, with the tax "XV Tax" whose credit account is a base account.
    conv.taxGroupList.clear();
    conv.TAXUSE = 3;
    group.converting = true;
    EXPECT_TRUE(Check(newGroup)) << reason;
    EXPECT_TRUE(Check(newGroup)) << reason;
    EXPECT_THAT(conv.taxGroupList, ElementsAre("NEW"));
    ASSERT_TRUE(convert::ReadByKeys(group.txm, 1, {{"TAX", "XV Tax"}}));
    EXPECT_EQ(convert::GetText(group.txm, 1, "TCACCT"), "200010");
    EXPECT_EQ(convert::GetText(group.txm, 1, "TDESC"), "Created during conversion");
    ASSERT_TRUE(convert::ReadByKeys(group.txm, 2, {{"GROUP", "NEW"}}));
    EXPECT_EQ(convert::GetText(group.txm, 2, "GTAX1"), "XV Tax");
    EXPECT_EQ(convert::GetText(group.txm, 2, "GTAX1CA"), "200010");

    // A group that cannot be written rejects the group; a full disk is said as such.
    for (const auto& [status, says] : {std::pair{XIO_DISK_FULL, "Out of disk space"},
                                       std::pair{XIO_IO_ERROR, "Unable to read from or write to a Halvorsend data file"}}) {
        FailingCalls fail;
        fail.Fail(xio::FaultCall::WriteRecord, 1, status, "TXM");
        modlibs::DistImage unwritable = Dist();
        unwritable.taxGroup = "OTHER";
        EXPECT_FALSE(Check(unwritable));
        EXPECT_EQ(reason, says);
    }
}

}  // namespace
}  // namespace dz::ap
