// Undoing a group's writes.
#include "import_fixture.h"

#include "platform/datafile/store.h"
#include "platform/import/xvl_rollback.h"

using namespace dz;
using namespace dz::xvl;
using namespace dz::xvl::test;

class ImportRollback : public ImportFixture {
protected:
    // Every customer as "id=name/balance", in key order.
    std::vector<std::string> Customers() {
        std::vector<std::string> out;
        for (int st = xio_rd_first(handle, 1, 0, 0); st == XIO_OK; st = xio_rd_next(handle, 1, 0, 0)) {
            char bal[32];
            std::snprintf(bal, sizeof bal, "%.0f", Get(1, "CBAL").number);
            out.push_back(Get(1, "CUSTID").text + "=" + Get(1, "CNAME").text + "/" + bal);
        }
        return out;
    }
    void Put(uint16_t rec, const char* name, const std::string& text) {
        x_value_def v;
        v.text = text;
        xio_put_field(handle, rec, Fld(rec, name), v);
    }
    // Replaces customer `id` as an import does (read for update, its copy saved first) with
    // `field` set to `value`, and records the replacement on `stack`.
    void Replace(xvlRollbackStack& stack, const std::string& id, const char* field, const std::string& value) {
        Put(1, "CUSTID", id);
        ASSERT_EQ(xio_rd_record(handle, 1, 0, 1), XIO_OK);
        const uint16_t saved = xio_save_record(handle, 1);
        ASSERT_NE(saved, 0);
        Put(1, field, value);
        ASSERT_EQ(xio_rep_record(handle, 1), XIO_OK);
        stack.pushRecord(handle, 1, xvlRollbackStack::Replaced, saved);
    }
};

TEST_F(ImportRollback, LeavesTheFileAsItWasBeforeTheGroup) {
    StoreCustomer("A", "Alpha", 100);
    StoreCustomer("B", "Beta", 200);
    const auto before = Customers();
    {
        xvlRollbackStack stack;
        // Add C.
        xio_init_record(handle, 1);
        Put(1, "CUSTID", "C");
        Put(1, "CNAME", "Gamma");
        ASSERT_EQ(xio_wr_record(handle, 1), XIO_OK);
        stack.pushRecord(handle, 1, xvlRollbackStack::Added, 0);
        // Replace A (read for update, copy saved first).
        ASSERT_NO_FATAL_FAILURE(Replace(stack, "a", "CNAME", "Changed"));
        // Replace B twice.
        for (const char* name : {"Beta 2", "Beta 3"}) ASSERT_NO_FATAL_FAILURE(Replace(stack, "B", "CNAME", name));
        // An invoice of another record type.
        xio_init_record(handle, 2);
        Put(2, "INVNO", "I1");
        ASSERT_EQ(xio_wr_record(handle, 2), XIO_OK);
        stack.pushRecord(handle, 2, xvlRollbackStack::Added, 0);
        EXPECT_EQ(stack.size(), 5u);
        EXPECT_NE(Customers(), before);
        EXPECT_TRUE(stack.rollback());
        EXPECT_EQ(stack.size(), 0u);
    }
    EXPECT_EQ(Customers(), before);
    Put(2, "INVNO", "I1");
    EXPECT_EQ(xio_find_record(handle, 2, 0), XIO_NOT_FOUND);
}

TEST_F(ImportRollback, AReplacementThatChangedTheKeyIsUndone) {
    StoreCustomer("A", "Alpha", 100);
    const auto before = Customers();
    xvlRollbackStack stack;
    ASSERT_NO_FATAL_FAILURE(Replace(stack, "A", "CUSTID", "Z"));
    EXPECT_EQ(Customers(), (std::vector<std::string>{"Z=Alpha/100"}));
    EXPECT_TRUE(stack.rollback());
    EXPECT_EQ(Customers(), before);
}

TEST_F(ImportRollback, WithoutRollbackTheWritesStayAndCopiesAreDropped) {
    StoreCustomer("A", "Alpha", 100);
    {
        xvlRollbackStack stack;
        ASSERT_NO_FATAL_FAILURE(Replace(stack, "A", "CNAME", "Kept"));
    }
    EXPECT_EQ(Customers(), (std::vector<std::string>{"A=Kept/100"}));
    EXPECT_NE(xio_restore_record(handle, 1), XIO_OK) << "the saved copy was dropped with the stack";
}

TEST_F(ImportRollback, AChangeThatCannotBeUndoneIsReported) {
    xvlRollbackStack stack;
    xio_init_record(handle, 1);
    Put(1, "CUSTID", "Q");
    ASSERT_EQ(xio_wr_record(handle, 1), XIO_OK);
    stack.pushRecord(handle, 1, xvlRollbackStack::Added, 0);
    // Someone else removed it already.
    Put(1, "CUSTID", "Q");
    ASSERT_EQ(xio_rd_record(handle, 1, 0, 1), XIO_OK);
    ASSERT_EQ(xio_del_record(handle, 1), XIO_OK);
    EXPECT_FALSE(stack.rollback());
    EXPECT_FALSE(stack.DiskFull()) << "a record gone is no full disk";
    // An undo that finds no room says so.
    ASSERT_EQ(xio_wr_record(handle, 1), XIO_OK);
    stack.pushRecord(handle, 1, xvlRollbackStack::Added, 0);
    xio::fail_call(xio::FaultCall::DeleteRecord, 1, XIO_DISK_FULL);
    EXPECT_FALSE(stack.rollback());
    xio::clear_faults();
    EXPECT_TRUE(stack.DiskFull());
}

// One stack serves group after group: a group's changes kept by clear() stay on file with their
// copies dropped, and the next group's rollback undoes its own changes only, found again by keys
// of a text and a number.
TEST_F(ImportRollback, AClearedStackKeepsItsGroupAndUndoesOnlyTheNextOne) {
    StoreCustomer("A", "Alpha", 100);
    auto addLine = [&](xvlRollbackStack& stack, const std::string& invoice, double sequence) {
        xio_init_record(handle, 3);
        Put(3, "LINV", invoice);
        x_value_def v;
        v.number = sequence;
        xio_put_field(handle, 3, Fld(3, "LSEQ"), v);
        ASSERT_EQ(xio_wr_record(handle, 3), XIO_OK);
        stack.pushRecord(handle, 3, xvlRollbackStack::Added, 0);
    };
    auto lines = [&] {
        std::vector<std::string> out;
        for (int st = xio_rd_first(handle, 3, 0, 0); st == XIO_OK; st = xio_rd_next(handle, 3, 0, 0))
            out.push_back(Get(3, "LINV").text + "/" + std::to_string(static_cast<int>(Get(3, "LSEQ").number)));
        return out;
    };
    xvlRollbackStack stack;
    ASSERT_NO_FATAL_FAILURE(addLine(stack, "INV-LONGER", 1));
    ASSERT_NO_FATAL_FAILURE(Replace(stack, "A", "CNAME", "First"));
    stack.clear();
    EXPECT_EQ(stack.size(), 0u);
    EXPECT_NE(xio_restore_record(handle, 1), XIO_OK) << "the kept group's copy was dropped";

    ASSERT_NO_FATAL_FAILURE(addLine(stack, "I2", 1));
    ASSERT_NO_FATAL_FAILURE(addLine(stack, "I2", 2));
    ASSERT_NO_FATAL_FAILURE(Replace(stack, "A", "CNAME", "Second"));
    ASSERT_NO_FATAL_FAILURE(addLine(stack, "INV-LONGER", 2));
    EXPECT_TRUE(stack.rollback());
    EXPECT_EQ(lines(), (std::vector<std::string>{"INV-LONGER/1"}));
    EXPECT_EQ(Customers(), (std::vector<std::string>{"A=First/100"}));
}
