// Record-level behaviour of the data files: statuses, keys, walks, buffers, notes, headers.
#include "support.h"

#include "platform/datafile/store.h"

#include <gmock/gmock.h>
#include <sqlite3.h>

#include <cmath>
#include <thread>

namespace dz::test {
namespace {

using Records = DataFileTest;
using ::testing::HasSubstr;

// A thread that wrote a file and ended leaves its records, and the memory the file's database
// kept for the thread goes back to the heap (a sanitizer build finds a piece lost or freed twice).
TEST_F(Records, AThreadThatWroteAndEndedLeavesItsRecordsAndItsMemory) {
    constexpr int kRecords = 5000;  // a bulk load, its indexes made at the commit
    std::thread worker([&] {
        const uint16_t h = open();
        ASSERT_EQ(xio_start_writes(h), XIO_OK);
        for (int n = 0; n < kRecords; ++n) ASSERT_EQ(addCustomer(h, "C" + std::to_string(n), "A" + std::to_string(n)), XIO_OK);
        ASSERT_EQ(xio_end_writes(h), XIO_OK);
        close(h);
    });
    worker.join();
    const uint16_t h = open();
    EXPECT_EQ(xio_record_count(h, 1), kRecords);
    EXPECT_EQ(addCustomer(h, "c17", "Z"), XIO_DUPLICATE);
    xio_init_record(h, 1);
    put(h, 1, "ALTKEY", "a4999");
    ASSERT_EQ(xio_rd_record(h, 1, 1, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "C4999");
}

TEST_F(Records, MissingFileAnswersThreeAndCreateMakesIt) {
    uint16_t h = 7;
    xio_ask_request req;
    req.abbr = "TST";
    req.fileNo = 1;
    EXPECT_EQ(xio_ask_file(req, h), XIO_NO_FILE);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(xio_open_file(dir / "MASTER.TST", 1, h), XIO_NO_FILE);
    EXPECT_FALSE(xio_file_exists("TST", XIO_EXISTS_MASTER));
    h = open(true);
    ASSERT_NE(h, 0);
    EXPECT_TRUE(std::filesystem::exists(dir / "MASTER.TST"));
    EXPECT_TRUE(xio_file_exists("tst", XIO_EXISTS_MASTER));
    EXPECT_FALSE(xio_file_exists("TST", XIO_EXISTS_SETTING));
    // The second file number has its own registry name.
    uint16_t h6 = 0;
    req.fileNo = 6;
    req.create = true;
    ASSERT_EQ(xio_ask_file(req, h6), XIO_OK);
    opened.push_back(h6);
    EXPECT_TRUE(std::filesystem::exists(dir / "HISTORY.TST"));
    EXPECT_EQ(xio_file_name("TST", 6), "HISTORY.TST");
    // Creating over an existing file is refused.
    EXPECT_EQ(xio_create_file("TST", 1, dir / "MASTER.TST"), XIO_LOCKED);
    EXPECT_EQ(xio_create_file("NOPE", 1, dir / "MASTER.NOP"), XIO_NO_DICTIONARY);
}

// The one-member reads and writes must store and answer exactly what the whole-value calls do,
// for every field type, including a member that is not the field's own.
TEST_F(Records, OneMemberCallsMatchTheWholeValueCalls) {
    uint16_t a = open();
    uint16_t b = open(false);
    const char* names[] = {"CODE", "AMOUNT", "ACTIVE", "KIND", "OPENED", "AT", "MEMO", "LASTNO"};
    const std::string longText(150, 'x');
    for (const char* name : names) {
        SCOPED_TRACE(name);
        const bool header = std::string(name) == "LASTNO";
        const uint16_t f = xio_num(a, header ? XIO_NUM_HEADER : XIO_NUM_RECORD, 1, name);
        ASSERT_NE(f, 0);
        auto fill = [&](uint16_t h) {
            xio_init_record(h, 1);
            x_value_def v;
            v.text = "T " + std::string(name);
            v.longText = v.text + longText;
            v.number = 7.25;
            v.flag = 1;
            v.date = {3, 4, 2025};
            v.time = {10, 11, 12};
            xio_put_field(h, 0, f, v);
        };
        auto whole = [&](uint16_t h) {
            x_value_def v;
            EXPECT_EQ(xio_get_field(h, 0, f, v), XIO_OK);
            return v;
        };
        fill(a);
        const x_value_def v = whole(a);
        EXPECT_EQ(xio_get_number(a, f), v.number);
        EXPECT_EQ(xio_get_flag(a, f), v.flag);
        EXPECT_EQ(xio_get_text(a, f), v.longText.empty() ? v.text : v.longText);
        for (double n : {-3.5, 0.0, 2.0, 12345.675}) {
            fill(a);
            fill(b);
            x_value_def w;
            w.number = n;
            ASSERT_EQ(xio_put_field(b, 0, f, w), XIO_OK);
            ASSERT_EQ(xio_put_number(a, f, n), XIO_OK);
            EXPECT_EQ(whole(a), whole(b)) << n;
        }
        for (uint16_t flag : {0, 1, 5}) {
            fill(a);
            fill(b);
            x_value_def w;
            w.flag = flag;
            ASSERT_EQ(xio_put_field(b, 0, f, w), XIO_OK);
            ASSERT_EQ(xio_put_flag(a, f, flag), XIO_OK);
            EXPECT_EQ(whole(a), whole(b)) << flag;
        }
        // A text as a value with its whole text in the long member: trailing blanks, a NUL, a
        // text past the field's length, one past the short member's 80 characters.
        for (const std::string& t : {std::string(), std::string("ab  "), std::string("a\0b", 3),
                                     std::string(100, 'x') + "yz ", std::string("d\xC3\xA9j\xC3\xA0 vu")}) {
            fill(a);
            fill(b);
            x_value_def w;
            w.text = t.substr(0, x_value_def::kTextMax);
            if (t.size() > x_value_def::kTextMax) w.longText = t;
            ASSERT_EQ(xio_put_field(b, 0, f, w), XIO_OK);
            ASSERT_EQ(xio_put_text(a, f, t), XIO_OK);
            EXPECT_EQ(whole(a), whole(b)) << t;
        }
    }
    // A text taken from the field itself: its tail, its head, the whole of it.
    {
        const uint16_t f = xio_num(a, XIO_NUM_RECORD, 1, "MEMO");
        ASSERT_EQ(xio_put_text(a, f, "abcdefghij"), XIO_OK);
        ASSERT_EQ(xio_put_text(a, f, std::string_view(xio_get_text(a, f)).substr(3)), XIO_OK);
        EXPECT_EQ(xio_get_text(a, f), "defghij");
        ASSERT_EQ(xio_put_text(a, f, std::string_view(xio_get_text(a, f)).substr(0, 2)), XIO_OK);
        EXPECT_EQ(xio_get_text(a, f), "de");
        ASSERT_EQ(xio_put_text(a, f, xio_get_text(a, f)), XIO_OK);
        EXPECT_EQ(xio_get_text(a, f), "de");
        // A NUL ends the text wherever it stands, and the blanks before it go too.
        for (const auto& [text, kept] : std::vector<std::pair<std::string, std::string>>{
                 {std::string("a\0b", 3), "a"},
                 {std::string("ab  \0cd", 7), "ab"},
                 {std::string("abcdef\0", 7), "abcdef"},
                 {std::string("abcdefghijk\0xyz", 15), "abcdefghijk"},
                 {std::string("abcdefghijklmno\0", 16), "abcdefghijklmno"},
                 {std::string("\0abcdefghi", 10), ""},
                 {"abcdefghijklmnop", "abcdefghijklmnop"}}) {
            ASSERT_EQ(xio_put_text(a, f, text), XIO_OK);
            EXPECT_EQ(xio_get_text(a, f), kept) << text.size();
        }
    }
    EXPECT_EQ(xio_get_number(a, 0), 0);
    EXPECT_EQ(xio_get_text(a, 999), "");
    EXPECT_EQ(xio_put_number(a, 999, 1), XIO_BAD_CALL);
    EXPECT_EQ(xio_put_flag(999, 1, 1), XIO_BAD_CALL);
    EXPECT_EQ(xio_put_text(a, 999, "x"), XIO_BAD_CALL);
}

// The definitions answered without a copy are the ones the copying calls give.
TEST_F(Records, DefinitionsWithoutACopyMatchTheCopies) {
    uint16_t h = open();
    for (uint16_t f = 1; f <= 12; ++f) {
        xio_fld_def copy;
        ASSERT_EQ(xio_get_fld_def(h, f, copy), XIO_OK) << f;
        const xio_fld_def* def = xio_field_def(h, f);
        ASSERT_NE(def, nullptr) << f;
        EXPECT_EQ(def->name, copy.name);
        EXPECT_EQ(def->type, copy.type);
        EXPECT_EQ(def->length, copy.length);
        EXPECT_EQ(def->items, copy.items);
    }
    for (uint16_t rec : {1, 2}) {
        xio_rec_def copy;
        ASSERT_EQ(xio_get_rec_def(h, rec, copy), XIO_OK);
        ASSERT_NE(xio_primary_key_fields(h, rec), nullptr);
        EXPECT_EQ(*xio_primary_key_fields(h, rec), copy.primaryKeyFields);
    }
    EXPECT_EQ(xio_field_def(h, 999), nullptr);
    EXPECT_EQ(xio_field_def(999, 1), nullptr);
    EXPECT_EQ(xio_primary_key_fields(h, 9), nullptr);
}

TEST_F(Records, BadCallsAreNeitherFoundNorNotFound) {
    uint16_t h = open();
    EXPECT_EQ(xio_rd_first(h, 9, 0, 0), XIO_BAD_CALL);
    EXPECT_EQ(xio_rd_first(h, 1, 2, 0), XIO_BAD_CALL);  // key 2 belongs to record 2
    EXPECT_EQ(xio_rd_first(999, 1, 0, 0), XIO_BAD_CALL);
    EXPECT_EQ(xio_rep_record(h, 1), XIO_BAD_CALL);  // nothing read
    EXPECT_EQ(xio_del_record(h, 1), XIO_BAD_CALL);
    x_value_def v;
    EXPECT_EQ(xio_get_field(h, 2, fld(h, 1, "CODE"), v), XIO_BAD_CALL);  // field of another record
    EXPECT_EQ(xio_num(h, XIO_NUM_RECORD, 1, "NOSUCH"), 0);
}

// The test hook that plans failures: the nth call of its kind on a file of its dictionary fails
// once, writing nothing, and the calls around it work.
TEST_F(Records, APlannedFailureHitsOnlyTheNthCallOfItsKindOnItsFile) {
    const uint16_t h = open();
    xio::fail_call(xio::FaultCall::WriteRecord, 2, XIO_DISK_FULL, "TST");
    xio::fail_call(xio::FaultCall::WriteRecord, 1, XIO_IO_ERROR, "ZZZ");
    xio::fail_call(xio::FaultCall::DeleteRecord, 1, XIO_IO_ERROR, "TST");
    EXPECT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    EXPECT_EQ(addCustomer(h, "C2", "A2"), XIO_DISK_FULL);
    EXPECT_EQ(addCustomer(h, "C3", "A3"), XIO_OK);
    EXPECT_EQ(walk(h, 0), "C1,C3");
    EXPECT_FALSE(xio::faults_spent());  // neither the other file's write nor a delete came
    xio::clear_faults();
    EXPECT_TRUE(xio::faults_spent());
    EXPECT_EQ(addCustomer(h, "C2", "A2"), XIO_OK);
}

TEST_F(Records, DuplicatesAnswerElevenWithTheKeyNumber) {
    uint16_t h = open();
    uint16_t dup = 99;
    ASSERT_EQ(addCustomer(h, "C1", "A1", "", &dup), XIO_OK);
    EXPECT_EQ(dup, 0);
    // Same primary key, different case: still a duplicate by key 0.
    dup = 99;
    EXPECT_EQ(addCustomer(h, "c1", "A2", "", &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 0);
    // New primary key, but the second unique key clashes.
    dup = 99;
    EXPECT_EQ(addCustomer(h, "C2", "a1", "", &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 1);
    // Blank optional references never clash; a repeated non-blank one does (key 3).
    ASSERT_EQ(addCustomer(h, "C3", "A3"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C4", "A4"), XIO_OK);
    // A customer with one more field set; the status of its write.
    auto addWith = [&](const char* code, const char* alt, const char* field, const char* value) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", code);
        put(h, 1, "ALTKEY", alt);
        put(h, 1, field, value);
        return xio_wr_record(h, 1, &dup);
    };
    ASSERT_EQ(addWith("C5", "A5", "REF", "R1"), XIO_OK);
    EXPECT_EQ(addWith("C6", "A6", "REF", "r1"), XIO_DUPLICATE);
    EXPECT_EQ(dup, 3);
    // Replacing a record so that its second key clashes answers 11 with key 1; its own key is fine.
    put(h, 1, "CODE", "C3");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    put(h, 1, "ALTKEY", "A4");
    EXPECT_EQ(xio_rep_record(h, 1, &dup), XIO_DUPLICATE);
    EXPECT_EQ(dup, 1);
    put(h, 1, "ALTKEY", "A3");
    put(h, 1, "NAME", "Kept");
    EXPECT_EQ(xio_rep_record(h, 1, &dup), XIO_OK);
    EXPECT_EQ(walk(h, 0), "C1,C3,C4,C5");
    // Walking the reference key meets every record that leaves it blank, then the others.
    EXPECT_EQ(walk(h, 3), "C1,C3,C4,C5");
    // A blank reference shared with others is no clash: the tag that really clashes is named.
    ASSERT_EQ(addWith("C7", "A7", "TAG", "T1"), XIO_OK);
    EXPECT_EQ(addWith("C8", "A8", "TAG", "t1"), XIO_DUPLICATE);
    EXPECT_EQ(dup, 4);
}

TEST_F(Records, NotesFollowARecordWhoseKeyChangesOnReplace) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_notes(h, 1, 1), XIO_OK);
    ASSERT_EQ(xio_put_notes(h, "Paid late"), XIO_OK);
    ASSERT_EQ(xio_wr_notes(h), XIO_OK);
    ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    put(h, 1, "CODE", "C9");
    ASSERT_EQ(xio_rep_record(h, 1), XIO_OK);
    std::string piece;
    ASSERT_EQ(xio_rd_notes(h, 1, 0), XIO_OK);
    ASSERT_EQ(xio_get_notes(h, piece), XIO_OK);
    EXPECT_EQ(piece, "Paid late");
    put(h, 1, "CODE", "C1");  // none left under the old key
    ASSERT_EQ(xio_rd_notes(h, 1, 0), XIO_OK);
    EXPECT_EQ(xio_get_notes(h, piece), XIO_END);

    // A key of a text and a number, the number changed.
    xio_init_record(h, 2);
    put(h, 2, "CCODE", "C9");
    putNum(h, 2, "SEQ", 1);
    ASSERT_EQ(xio_wr_record(h, 2), XIO_OK);
    ASSERT_EQ(xio_rd_notes(h, 2, 1), XIO_OK);
    ASSERT_EQ(xio_put_notes(h, "Second line"), XIO_OK);
    ASSERT_EQ(xio_wr_notes(h), XIO_OK);
    ASSERT_EQ(xio_rd_record(h, 2, 0, 1), XIO_OK);
    putNum(h, 2, "SEQ", 2);
    ASSERT_EQ(xio_rep_record(h, 2), XIO_OK);
    ASSERT_EQ(xio_rd_notes(h, 2, 0), XIO_OK);
    ASSERT_EQ(xio_get_notes(h, piece), XIO_OK);
    EXPECT_EQ(piece, "Second line");
}

TEST_F(Records, KeysIgnoreCaseAndReadsGiveTheStoredSpelling) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "MacLeod", "Alt", "Angus"), XIO_OK);
    xio_init_record(h, 1);
    put(h, 1, "CODE", "MACLEOD");
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "MACLEOD");  // find leaves the buffer
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "MacLeod");
    EXPECT_EQ(get(h, 1, "NAME"), "Angus");
    // By the second key, lower case.
    xio_init_record(h, 1);
    put(h, 1, "ALTKEY", "alt");
    EXPECT_EQ(xio_find_record(h, 1, 1), XIO_OK);
    ASSERT_EQ(xio_rd_record(h, 1, 1, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "MacLeod");
    // Trailing blanks are trimmed on put, so "MACLEOD  " finds the record too.
    put(h, 1, "CODE", "macleod   ");
    EXPECT_EQ(get(h, 1, "CODE"), "macleod");
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_OK);
    put(h, 1, "CODE", "MacLeo");
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_NOT_FOUND);
}

TEST_F(Records, WalksFollowKeyOrderWithoutRegardToCase) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "beta", "Z1"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "Alpha", "y2"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "GAMMA", "X3"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "delta", "w4"), XIO_OK);
    EXPECT_EQ(walk(h, 0), "Alpha,beta,delta,GAMMA");
    EXPECT_EQ(walk(h, 1), "delta,GAMMA,Alpha,beta");  // by ALTKEY w4, X3, y2, Z1

    // Backwards from the end.
    std::string back;
    for (int s = xio_rd_last(h, 1, 0, 0); s == XIO_OK; s = xio_rd_previous(h, 1, 0, 0))
        back += get(h, 1, "CODE") + " ";
    EXPECT_EQ(back, "GAMMA delta beta Alpha ");
    EXPECT_EQ(xio_status(h), XIO_END);

    // ge and gt from a partial, differently cased key.
    xio_init_record(h, 1);
    put(h, 1, "CODE", "B");
    ASSERT_EQ(xio_rd_ge(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "beta");
    put(h, 1, "CODE", "BETA");
    ASSERT_EQ(xio_rd_ge(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "beta");
    ASSERT_EQ(xio_rd_gt(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "delta");
    EXPECT_EQ(xio_rd_next(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "GAMMA");
    EXPECT_EQ(xio_rd_next(h, 1, 0, 0), XIO_END);
    EXPECT_EQ(xio_rd_next(h, 1, 0, 0), XIO_END);
    EXPECT_EQ(get(h, 1, "CODE"), "GAMMA");  // the failed reads left the buffer

    // A failed rd_gt leaves the cursor past the end: rd_previous gives the last record.
    put(h, 1, "CODE", "zzz");
    EXPECT_EQ(xio_rd_gt(h, 1, 0, 0), XIO_END);
    EXPECT_EQ(get(h, 1, "CODE"), "zzz");
    ASSERT_EQ(xio_rd_previous(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "GAMMA");
    ASSERT_EQ(xio_rd_previous(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "delta");

    // Walking on continues past a record deleted under the cursor.
    put(h, 1, "CODE", "beta");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    ASSERT_EQ(xio_del_record(h, 1), XIO_OK);
    ASSERT_EQ(xio_rd_next(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "delta");
    EXPECT_EQ(walk(h, 0), "Alpha,delta,GAMMA");
}

TEST_F(Records, NonUniqueKeysWalkEveryRecordInPrimaryKeyOrder) {
    uint16_t h = open();
    const char* people[][3] = {{"C2", "1", "SMITH"}, {"C1", "2", "jones"}, {"C1", "1", "Smith"}, {"C3", "1", "Adams"}};
    for (auto& p : people) {
        xio_init_record(h, 2);
        x_value_def v;
        v.text = p[0];
        xio_put_field(h, 2, xio_num(h, XIO_NUM_RECORD, 2, "CCODE"), v);
        v.number = std::atof(p[1]);
        xio_put_field(h, 2, xio_num(h, XIO_NUM_RECORD, 2, "SEQ"), v);
        v.text = p[2];
        xio_put_field(h, 2, xio_num(h, XIO_NUM_RECORD, 2, "PERSON"), v);
        ASSERT_EQ(xio_wr_record(h, 2), XIO_OK);
    }
    std::string out;
    for (int s = xio_rd_first(h, 2, 2, 0); s == XIO_OK; s = xio_rd_next(h, 2, 2, 0))
        out += get(h, 2, "PERSON") + "/" + get(h, 2, "CCODE") + " ";
    EXPECT_EQ(out, "Adams/C3 jones/C1 Smith/C1 SMITH/C2 ");
    // Backwards too.
    out.clear();
    for (int s = xio_rd_last(h, 2, 2, 0); s == XIO_OK; s = xio_rd_previous(h, 2, 2, 0)) out += get(h, 2, "CCODE") + " ";
    EXPECT_EQ(out, "C2 C1 C1 C3 ");
    // find_record by a non-unique key; rd_ge of a partial primary key (all contacts of C1).
    xio_init_record(h, 2);
    put(h, 2, "PERSON", "smith");
    EXPECT_EQ(xio_find_record(h, 2, 2), XIO_OK);
    xio_init_record(h, 2);
    put(h, 2, "CCODE", "C1");
    ASSERT_EQ(xio_rd_ge(h, 2, 0, 0), XIO_OK);
    EXPECT_EQ(getNum(h, 2, "SEQ"), 1);
    ASSERT_EQ(xio_rd_next(h, 2, 0, 0), XIO_OK);
    EXPECT_EQ(getNum(h, 2, "SEQ"), 2);
    ASSERT_EQ(xio_rd_next(h, 2, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 2, "CCODE"), "C2");
}

TEST_F(Records, BuffersBelongToOneRecordTypeAndFailedReadsLeaveThem) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1", "First"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C2", "A2", "Second"), XIO_OK);
    ASSERT_EQ(xio_rd_first(h, 1, 0, 0), XIO_OK);
    // A read of record 2 (empty file part) neither touches record 1's buffer nor its cursor.
    xio_init_record(h, 2);
    put(h, 2, "CCODE", "C9");
    EXPECT_EQ(xio_rd_ge(h, 2, 0, 0), XIO_END);
    EXPECT_EQ(get(h, 2, "CCODE"), "C9");
    EXPECT_EQ(get(h, 1, "NAME"), "First");
    ASSERT_EQ(xio_rd_next(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "NAME"), "Second");
    // A failed exact read leaves every field as it was, including the typed key.
    put(h, 1, "CODE", "nothere");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 0), XIO_NOT_FOUND);
    EXPECT_EQ(get(h, 1, "CODE"), "nothere");
    EXPECT_EQ(get(h, 1, "NAME"), "Second");
    // Replace works on the record of this type read for update, after reads of other types.
    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    xio_init_record(h, 2);
    EXPECT_EQ(xio_rd_first(h, 2, 0, 0), XIO_END);
    put(h, 1, "NAME", "Renamed");
    ASSERT_EQ(xio_rep_record(h, 1), XIO_OK);
    put(h, 1, "CODE", "C1");
    put(h, 1, "NAME", "");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "NAME"), "Renamed");
}

TEST_F(Records, RecordZeroMeansTheFieldsOwnRecord) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1", "First"), XIO_OK);
    x_value_def v;
    v.text = "c1";
    ASSERT_EQ(xio_put_field(h, 0, fld(h, 1, "CODE"), v), XIO_OK);
    EXPECT_EQ(xio_find_record(h, 1, 0), XIO_OK);
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    ASSERT_EQ(xio_get_field(h, 0, fld(h, 1, "NAME"), v), XIO_OK);
    EXPECT_EQ(v.text, "First");
    // Header fields go to their header's buffer.
    uint16_t lastNo = xio_num(h, XIO_NUM_HEADER, 1, "LASTNO");
    ASSERT_NE(lastNo, 0);
    EXPECT_EQ(xio_num(h, XIO_NUM_HEADER_ALIAS, 0, "lastno"), lastNo);
    v.number = 42;
    ASSERT_EQ(xio_put_field(h, 0, lastNo, v), XIO_OK);
    EXPECT_EQ(xio_get_field_result(h, 0, lastNo), 42);
}

TEST_F(Records, ValuesByTypeAndDefaults) {
    uint16_t h = open();
    ASSERT_EQ(xio_init_record(h, 1), XIO_OK);
    EXPECT_EQ(get(h, 1, "NAME"), "NEW");
    EXPECT_EQ(getNum(h, 1, "AMOUNT"), 150);
    EXPECT_EQ(xio_get_field_result(h, 1, fld(h, 1, "ACTIVE")), 1);
    EXPECT_EQ(xio_get_field_result(h, 1, fld(h, 1, "KIND")), 2);
    EXPECT_EQ(xio_get_field_result(h, 1, fld(h, 1, "CODE")), 0);  // blank text
    x_value_def v;
    v.text = "untouched";
    ASSERT_EQ(xio_get_field(h, 1, fld(h, 1, "OPENED"), v), XIO_OK);
    EXPECT_EQ(v.text, "untouched");  // a non-text get leaves the text member
    EXPECT_EQ(v.date, (x_date_type{1, 15, 2024}));

    // Every type round-trips through a write and a read.
    put(h, 1, "CODE", "T1");
    put(h, 1, "ALTKEY", "T1");
    v = {};
    v.number = -1234.56;
    xio_put_field(h, 1, fld(h, 1, "AMOUNT"), v);
    v.flag = 0;
    xio_put_field(h, 1, fld(h, 1, "ACTIVE"), v);
    v.number = 3;
    xio_put_field(h, 1, fld(h, 1, "KIND"), v);
    v.date = {7, 0, 2025};  // day 0 with a month is storable
    xio_put_field(h, 1, fld(h, 1, "OPENED"), v);
    v.time = {23, 5, 9};
    xio_put_field(h, 1, fld(h, 1, "AT"), v);
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    xio_init_record(h, 1);
    put(h, 1, "CODE", "t1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_DOUBLE_EQ(getNum(h, 1, "AMOUNT"), -1234.56);
    EXPECT_EQ(xio_get_field_result(h, 1, fld(h, 1, "AMOUNT")), -1234);
    EXPECT_EQ(xio_get_field_result(h, 1, fld(h, 1, "ACTIVE")), 0);
    EXPECT_EQ(xio_get_field_result(h, 1, fld(h, 1, "KIND")), 3);
    x_value_def r;
    xio_get_field(h, 1, fld(h, 1, "OPENED"), r);
    EXPECT_EQ(r.date, (x_date_type{7, 0, 2025}));
    xio_get_field(h, 1, fld(h, 1, "AT"), r);
    EXPECT_EQ(r.time, (x_time_type{23, 5, 9}));
    // A blank date stays blank.
    v.date = {0, 5, 2025};
    xio_put_field(h, 1, fld(h, 1, "OPENED"), v);
    xio_get_field(h, 1, fld(h, 1, "OPENED"), r);
    EXPECT_TRUE(r.date.blank());
}

TEST_F(Records, TextIsCutToTheFieldAndLongValuesTravelInTheLongMember) {
    uint16_t h = open();
    put(h, 1, "NAME", std::string(40, 'n'));
    EXPECT_EQ(get(h, 1, "NAME"), std::string(30, 'n'));
    put(h, 1, "NAME", "   ");
    EXPECT_EQ(get(h, 1, "NAME"), "");  // only blanks counts as blank
    std::string memo;
    for (int i = 0; i < 150; ++i) memo += static_cast<char>('a' + i % 26);
    x_value_def v;
    v.text = memo.substr(0, 80);
    v.longText = memo;
    ASSERT_EQ(xio_put_field(h, 1, fld(h, 1, "MEMO"), v), XIO_OK);
    x_value_def r;
    ASSERT_EQ(xio_get_field(h, 1, fld(h, 1, "MEMO"), r), XIO_OK);
    EXPECT_EQ(r.text, memo.substr(0, 80));
    EXPECT_EQ(r.longText, memo);
    // A stale long member that the text does not start does not leak into another field.
    r.text = "short";
    ASSERT_EQ(xio_put_field(h, 1, fld(h, 1, "NAME"), r), XIO_OK);
    EXPECT_EQ(get(h, 1, "NAME"), "short");
    // Reading a short text clears the long member.
    ASSERT_EQ(xio_get_field(h, 1, fld(h, 1, "NAME"), r), XIO_OK);
    EXPECT_EQ(r.longText, "");
}

TEST_F(Records, NotesRoundTripInEightyCharacterPieces) {
    uint16_t h = open();
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C2", "A2"), XIO_OK);
    std::string text;
    for (int i = 0; i < 205; ++i) text += static_cast<char>('A' + i % 26);
    put(h, 1, "CODE", "c1");  // the notes follow the key, whatever its case
    ASSERT_EQ(xio_rd_notes(h, 1, 1), XIO_OK);
    std::string piece;
    EXPECT_EQ(xio_get_notes(h, piece), XIO_END);  // none yet
    ASSERT_EQ(xio_put_notes(h, text.substr(0, 100)), XIO_OK);
    ASSERT_EQ(xio_put_notes(h, text.substr(100)), XIO_OK);
    ASSERT_EQ(xio_wr_notes(h), XIO_OK);

    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_notes(h, 1, 0), XIO_OK);
    std::vector<std::string> pieces;
    while (xio_get_notes(h, piece) == XIO_OK) pieces.push_back(piece);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].size(), 80u);
    EXPECT_EQ(pieces[2].size(), 45u);
    EXPECT_EQ(pieces[0] + pieces[1] + pieces[2], text);
    // Another record has none.
    put(h, 1, "CODE", "C2");
    ASSERT_EQ(xio_rd_notes(h, 1, 0), XIO_OK);
    EXPECT_EQ(xio_get_notes(h, piece), XIO_END);
    // Deleting the record drops its notes.
    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
    ASSERT_EQ(xio_del_record(h, 1), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);
    ASSERT_EQ(xio_rd_notes(h, 1, 0), XIO_OK);
    EXPECT_EQ(xio_get_notes(h, piece), XIO_END);
}

TEST_F(Records, SaveStackRestoresByRecordAndById) {
    uint16_t h = open();
    put(h, 1, "NAME", "one");
    uint16_t id1 = xio_save_record(h, 1);
    put(h, 1, "NAME", "two");
    uint16_t id2 = xio_save_record(h, 1);
    put(h, 2, "PERSON", "p");
    uint16_t id3 = xio_save_record(h, 2);
    EXPECT_GT(id1, 0);
    EXPECT_NE(id1, id2);
    EXPECT_NE(id2, id3);
    put(h, 1, "NAME", "three");
    put(h, 2, "PERSON", "q");
    ASSERT_EQ(xio_restore_record(h, 1), XIO_OK);  // newest copy of record 1
    EXPECT_EQ(get(h, 1, "NAME"), "two");
    EXPECT_EQ(get(h, 2, "PERSON"), "q");
    ASSERT_EQ(xio_restore_record_id(h, id3), XIO_OK);
    EXPECT_EQ(get(h, 2, "PERSON"), "p");
    ASSERT_EQ(xio_unsave_record(h, id1), XIO_OK);
    EXPECT_EQ(xio_restore_record(h, 1), XIO_NOT_FOUND);
    EXPECT_EQ(xio_unsave_record(h, id1), XIO_NOT_FOUND);
    EXPECT_EQ(get(h, 1, "NAME"), "two");
}

// A record kept as written, put back from a saved copy, is held and replaced without a read;
// its lock is taken as a read would take it, and a row number that no longer stands for the
// buffer's record holds nothing.
TEST_F(Records, AKeptRecordIsHeldByItsRowAndReplacedWithoutARead) {
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    ASSERT_EQ(addCustomer(a, "C1", "A1", "first"), XIO_OK);
    const int64_t row = xio_current_row(a, 1);
    ASSERT_GT(row, 0);
    const uint16_t kept = xio_save_record(a, 1);
    ASSERT_EQ(addCustomer(a, "C2", "A2", "second"), XIO_OK);
    EXPECT_NE(xio_current_row(a, 1), row);

    ASSERT_EQ(xio_restore_record_id(a, kept), XIO_OK);
    ASSERT_EQ(xio_hold_record(a, 1, row, 1), XIO_OK);
    put(b, 1, "CODE", "C1");
    EXPECT_EQ(xio_rd_record(b, 1, 0, 1), XIO_LOCKED);
    put(a, 1, "NAME", "changed");
    ASSERT_EQ(xio_rep_record(a, 1), XIO_OK);
    EXPECT_EQ(xio_rd_record(b, 1, 0, 1), XIO_OK);  // the replace released the lock
    ASSERT_EQ(xio_unlock_record(b, 1), XIO_OK);

    // The other record's row, or a row that is gone, is not the buffer's record.
    const int64_t second = [&] {
        put(a, 1, "CODE", "C2");
        EXPECT_EQ(xio_rd_record(a, 1, 0, 0), XIO_OK);
        return xio_current_row(a, 1);
    }();
    put(a, 1, "CODE", "C1");
    put(a, 1, "NAME", "stale");
    EXPECT_EQ(xio_hold_record(a, 1, second, 1), XIO_NOT_FOUND);
    EXPECT_EQ(xio_hold_record(a, 1, second + 100, 1), XIO_NOT_FOUND);
    EXPECT_EQ(xio_hold_record(a, 1, 0, 1), XIO_BAD_CALL);
    ASSERT_EQ(xio_end_writes(a), XIO_OK);
    std::string out;
    for (int s = xio_rd_first(b, 1, 0, 0); s == XIO_OK; s = xio_rd_next(b, 1, 0, 0))
        out += get(b, 1, "CODE") + "=" + get(b, 1, "ALTKEY") + "/" + get(b, 1, "NAME") + " ";
    EXPECT_EQ(out, "C1=A1/changed C2=A2/second ");
}

// The changes counted for a record type are its own adds, removes and key changes, made through
// any handle of the file, and every rollback; a walk aside leaves the buffer and the held record.
TEST_F(Records, RowChangesCountAddsRemovesAndKeyChangesOfTheRecordType) {
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    bool anyRow = true;
    const int64_t start = xio_row_changes(a, 1, &anyRow);
    EXPECT_FALSE(anyRow);
    ASSERT_EQ(addCustomer(a, "C1", "A1", "first"), XIO_OK);
    ASSERT_EQ(addCustomer(b, "C2", "A2", "second"), XIO_OK);
    EXPECT_EQ(xio_row_changes(a, 1, &anyRow), start + 2);
    EXPECT_TRUE(anyRow);
    const int64_t other = xio_row_changes(a, 2);
    put(a, 1, "CODE", "C2");
    ASSERT_EQ(xio_rd_record(a, 1, 0, 1), XIO_OK);  // a replace keeping the key counts nothing
    put(a, 1, "NAME", "renamed");
    ASSERT_EQ(xio_rep_record(a, 1), XIO_OK);
    EXPECT_EQ(xio_row_changes(a, 1), start + 2);
    ASSERT_EQ(xio_rd_record(a, 1, 0, 1), XIO_OK);
    put(a, 1, "CODE", "C3");
    ASSERT_EQ(xio_rep_record(a, 1), XIO_OK);
    EXPECT_EQ(xio_row_changes(a, 1), start + 3);
    EXPECT_EQ(xio_row_changes(a, 2), other);  // another record type's count stays

    // Read aside up to C1's row: the buffer and the held record stay the caller's.
    put(a, 1, "CODE", "C3");
    ASSERT_EQ(xio_rd_record(a, 1, 0, 1), XIO_OK);
    const int64_t held = xio_current_row(a, 1);
    put(a, 1, "NAME", "pending");
    std::string seen;
    EXPECT_EQ(xio_rd_rows_aside(a, 1, held - 1, [&] { seen += get(a, 1, "CODE") + " "; }), XIO_END);
    EXPECT_EQ(seen, "C1 ");
    EXPECT_EQ(get(a, 1, "NAME"), "pending");
    EXPECT_EQ(xio_current_row(a, 1), held);
    ASSERT_EQ(xio_rep_record(a, 1), XIO_OK);
    put(a, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(a, 1, 0, 1), XIO_OK);
    ASSERT_EQ(xio_del_record(a, 1), XIO_OK);
    EXPECT_EQ(xio_row_changes(a, 1), start + 4);
    ASSERT_EQ(xio_rollback(a), XIO_OK);
    EXPECT_EQ(xio_row_changes(b, 1), start + 5);
}

// A replace of chosen fields stores only them, as the buffer holds them, and lets the record
// go; a key's field, or a record held by another handle, stores nothing.
TEST_F(Records, AReplaceOfChosenFieldsStoresOnlyThemAndLetsTheRecordGo) {
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    ASSERT_EQ(addCustomer(a, "C1", "A1", "first"), XIO_OK);
    ASSERT_EQ(addCustomer(a, "C2", "A2", "second"), XIO_OK);
    put(a, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(a, 1, 0, 1), XIO_OK);
    put(a, 1, "NAME", "changed");
    put(a, 1, "ALTKEY", "A9");  // in the buffer only: not among the fields stored
    const uint16_t name = fld(a, 1, "NAME"), alt = fld(a, 1, "ALTKEY"), code = fld(a, 1, "CODE");
    EXPECT_EQ(xio_rep_fields(a, 1, {alt}), XIO_BAD_CALL);
    EXPECT_EQ(xio_rep_fields(a, 1, {name, code}), XIO_BAD_CALL);
    EXPECT_EQ(xio_rep_fields(a, 1, {}), XIO_BAD_CALL);
    put(b, 1, "CODE", "C1");
    EXPECT_EQ(xio_rd_record(b, 1, 0, 1), XIO_LOCKED);
    ASSERT_EQ(xio_rep_fields(a, 1, {name}), XIO_OK);
    EXPECT_EQ(xio_rd_record(b, 1, 0, 1), XIO_OK);  // let go
    // Held by the other handle now: nothing is stored.
    put(a, 1, "NAME", "refused");
    EXPECT_EQ(xio_rep_fields(a, 1, {name}), XIO_LOCKED);
    ASSERT_EQ(xio_unlock_record(b, 1), XIO_OK);
    ASSERT_EQ(xio_end_writes(a), XIO_OK);
    std::string out;
    for (int s = xio_rd_first(b, 1, 0, 0); s == XIO_OK; s = xio_rd_next(b, 1, 0, 0))
        out += get(b, 1, "CODE") + "=" + get(b, 1, "ALTKEY") + "/" + get(b, 1, "NAME") + " ";
    EXPECT_EQ(out, "C1=A1/changed C2=A2/second ");
    EXPECT_EQ(walk(b, 1), "C1,C2");  // the other key's index stands as stored
}

// The keys a hold reads serve its replace only while nothing changed the row: a write of
// another handle meanwhile (the same connection, the same transaction) is seen, and the
// replace stores what the buffer holds, its keys included.
TEST_F(Records, AHeldRecordsReplaceSeesWritesMadeAfterTheHold) {
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    ASSERT_EQ(xio_start_writes(b), XIO_OK);
    ASSERT_EQ(addCustomer(a, "C1", "A1", "first"), XIO_OK);
    const int64_t row = xio_current_row(a, 1);
    for (const char* other : {"A9", "A1"}) {  // then one that puts back what the hold read
        xio_init_record(a, 1);
        put(a, 1, "CODE", "C1");
        put(a, 1, "ALTKEY", "A1");
        ASSERT_EQ(xio_hold_record(a, 1, row, 0), XIO_OK);
        put(b, 1, "CODE", "C1");
        ASSERT_EQ(xio_rd_record(b, 1, 0, 1), XIO_OK);
        put(b, 1, "ALTKEY", "A8");
        ASSERT_EQ(xio_rep_record(b, 1), XIO_OK);
        put(b, 1, "ALTKEY", other);
        ASSERT_EQ(xio_rep_record(b, 1), XIO_OK);
        put(a, 1, "NAME", other);
        ASSERT_EQ(xio_rep_record(a, 1), XIO_OK);
        put(b, 1, "ALTKEY", "A1");
        ASSERT_EQ(xio_rd_record(b, 1, 1, 0), XIO_OK) << other;
        EXPECT_EQ(get(b, 1, "CODE"), "C1");
        EXPECT_EQ(get(b, 1, "NAME"), other);
        for (const char* gone : {"A8", "A9"}) {
            put(b, 1, "ALTKEY", gone);
            EXPECT_EQ(xio_rd_record(b, 1, 1, 0), XIO_NOT_FOUND) << gone;
        }
    }
    ASSERT_EQ(xio_end_writes(a), XIO_OK);
    ASSERT_EQ(xio_end_writes(b), XIO_OK);
}

// A replace leaves every field of the row as the buffer holds it, stored as a fresh write of the
// buffer stores it: the fields it changed, those it left (a value stored as another type by some
// other program included), and the keys, which find the record by its new values only.
TEST_F(Records, AReplaceLeavesEveryFieldAsTheBufferHoldsIt) {
    uint16_t h = open();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C1", "A1", "first"), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C2", "A2", "second"), XIO_OK);
    sqlite3* db = xio::connection(h);
    ASSERT_EQ(sqlite3_exec(db, "UPDATE r1 SET NAME = x'37', TAG = x'3132' WHERE CODE = 'C1'", nullptr, nullptr, nullptr),
              SQLITE_OK);
    // Every column of a record as SQLite shows it, with its storage type.
    auto row = [&](const std::string& code) {
        std::string out;
        sqlite3_stmt* st = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db, ("SELECT * FROM r1 WHERE CODE = '" + code + "'").c_str(), -1, &st, nullptr), SQLITE_OK);
        if (sqlite3_step(st) == SQLITE_ROW)
            for (int c = 0; c < sqlite3_column_count(st); ++c) {
                const int t = sqlite3_column_type(st, c);
                const auto* text = sqlite3_column_text(st, c);
                out += std::string(sqlite3_column_name(st, c)) + "=" + std::to_string(t) + ":" +
                       (text ? reinterpret_cast<const char*>(text) : "") + " ";
            }
        sqlite3_finalize(st);
        return out;
    };
    struct Change {
        const char* field;
        const char* text;  // nullptr: a number
        double number;
    };
    const std::vector<std::vector<Change>> steps = {
        {},                                                      // nothing but the foreign types
        {{"ALTKEY", "B1", 0}},                                   // a key
        {{"AMOUNT", nullptr, 12.5}, {"MEMO", "a memo", 0}},      // a number and a text
        {{"AMOUNT", nullptr, 12.5}},                             // the same number again
        {{"CODE", "C9", 0}, {"NAME", "renamed", 0}},             // the primary key
        {{"MEMO", "", 0}, {"REF", "R1", 0}, {"AT", nullptr, 0}}  // back to a blank; a third key
    };
    std::string code = "C1";
    for (std::size_t n = 0; n < steps.size(); ++n) {
        SCOPED_TRACE("step " + std::to_string(n));
        put(h, 1, "CODE", code);
        ASSERT_EQ(xio_rd_record(h, 1, 0, 1), XIO_OK);
        for (const Change& c : steps[n]) {
            if (c.text) put(h, 1, c.field, c.text);
            else putNum(h, 1, c.field, c.number);
        }
        code = get(h, 1, "CODE");
        ASSERT_EQ(xio_rep_record(h, 1), XIO_OK);
        const uint16_t kept = xio_save_record(h, 1);
        // The keys find the record by its new values, and by its old ones no more.
        const std::string alt = get(h, 1, "ALTKEY"), ref = get(h, 1, "REF");
        ASSERT_EQ(xio_rd_record(h, 1, 1, 0), XIO_OK);
        EXPECT_EQ(get(h, 1, "CODE"), code);
        if (!ref.empty()) {
            EXPECT_EQ(xio_rd_record(h, 1, 3, 0), XIO_OK);
        }
        put(h, 1, "ALTKEY", "A1");
        EXPECT_EQ(xio_rd_record(h, 1, 1, 0), n == 0 ? XIO_OK : XIO_NOT_FOUND);
        const std::string stored = row(code);
        ASSERT_NE(stored, "");
        if (code != "C1") {
            ASSERT_EQ(sqlite3_exec(db, "UPDATE r1 SET CODE = 'C1' WHERE CODE = 'C9'", nullptr, nullptr, nullptr), SQLITE_OK);
            code = "C1";
        }
        // What a new record with the buffer's fields stores, for every field.
        ASSERT_EQ(sqlite3_exec(db, "DELETE FROM r1 WHERE CODE = 'C1'", nullptr, nullptr, nullptr), SQLITE_OK);
        ASSERT_EQ(xio_restore_record_id(h, kept), XIO_OK);
        put(h, 1, "CODE", "C1");
        ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
        const std::string fresh = row("C1");
        ASSERT_NE(fresh, "");
        EXPECT_EQ(stored.substr(stored.find(' ')), fresh.substr(fresh.find(' ')));
        EXPECT_THAT(stored, HasSubstr("NAME=3:"));  // a text, whatever it held before
        EXPECT_THAT(stored, HasSubstr("TAG=3:12 "));
    }
    // A row gone since it was read is not found, and nothing is written.
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    ASSERT_EQ(sqlite3_exec(db, "DELETE FROM r1 WHERE CODE = 'C1'", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_EQ(xio_rep_record(h, 1), XIO_NOT_FOUND);
    EXPECT_EQ(row("C1"), "");
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
}

// Record after record through two handles of one file, texts changed in place (same length),
// buffers restored from the save stack and a refused duplicate in between: each record on file
// holds exactly the values its buffer held when it was written.
TEST_F(Records, EveryWriteStoresItsOwnBuffer) {
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    auto add = [&](uint16_t h, const std::string& code, const std::string& name, double amount) {
        put(h, 1, "CODE", code);
        put(h, 1, "ALTKEY", "K" + code);
        put(h, 1, "NAME", name);
        putNum(h, 1, "AMOUNT", amount);
        return xio_wr_record(h, 1);
    };
    xio_init_record(a, 1);
    EXPECT_EQ(add(a, "A1", "same", 1), XIO_OK);
    EXPECT_EQ(add(a, "A2", "same", 1), XIO_OK);
    EXPECT_EQ(add(b, "B1", "other", 2.5), XIO_OK);
    EXPECT_EQ(add(a, "A3", "sane", 0), XIO_OK);
    const uint16_t saved = xio_save_record(a, 1);
    EXPECT_EQ(add(a, "A1", "clash", 5), XIO_DUPLICATE);
    EXPECT_EQ(add(a, "A4", "a much longer name than before", 5), XIO_OK);
    ASSERT_EQ(xio_restore_record_id(a, saved), XIO_OK);
    put(a, 1, "CODE", "A5");
    put(a, 1, "ALTKEY", "KA5");
    EXPECT_EQ(xio_wr_record(a, 1), XIO_OK);
    xio_init_record(a, 1);
    put(a, 1, "CODE", "A6");
    put(a, 1, "ALTKEY", "KA6");
    EXPECT_EQ(xio_wr_record(a, 1), XIO_OK);  // the defaults again
    ASSERT_EQ(xio_end_writes(a), XIO_OK);
    std::string out;
    for (int s = xio_rd_first(b, 1, 0, 0); s == XIO_OK; s = xio_rd_next(b, 1, 0, 0))
        out += get(b, 1, "CODE") + "=" + get(b, 1, "ALTKEY") + "/" + get(b, 1, "NAME") + "/" +
               std::to_string(getNum(b, 1, "AMOUNT")) + " ";
    EXPECT_EQ(out,
              "A1=KA1/same/1.000000 A2=KA2/same/1.000000 A3=KA3/sane/0.000000 A4=KA4/a much longer name than "
              "before/5.000000 A5=KA5/sane/0.000000 A6=KA6/NEW/150.000000 B1=KB1/other/2.500000 ");
}

// Zeroing a range of fields touches only fields whose field result and number are both non-zero:
// a text, a flag, a date and a fraction under 1 keep their values.
TEST_F(Records, ZeroingARangeClearsOnlyNonZeroNumbers) {
    uint16_t h = open();
    xio_init_record(h, 1);
    double before = -1;
    const uint16_t name = fld(h, 1, "NAME"), opened = fld(h, 1, "OPENED");
    EXPECT_EQ(xio_zero_numbers(h, name, opened, before), fld(h, 1, "AMOUNT"));
    EXPECT_EQ(before, 150);
    EXPECT_EQ(getNum(h, 1, "AMOUNT"), 0);
    EXPECT_EQ(getNum(h, 1, "KIND"), 0);
    EXPECT_EQ(get(h, 1, "NAME"), "NEW");
    EXPECT_EQ(xio_get_flag(h, fld(h, 1, "ACTIVE")), 1);
    EXPECT_NE(xio_get_field_result(h, 1, opened), 0);
    putNum(h, 1, "AMOUNT", 0.5);
    EXPECT_EQ(xio_zero_numbers(h, name, opened, before), 0);
    EXPECT_EQ(getNum(h, 1, "AMOUNT"), 0.5);
    EXPECT_EQ(xio_zero_numbers(h, opened, name, before), 0) << "an empty range";
    // An amount of exactly one either way is a number to clear, and the first value answered.
    for (double one : {1.0, -1.0}) {
        putNum(h, 1, "AMOUNT", one);
        EXPECT_EQ(xio_zero_numbers(h, name, opened, before), fld(h, 1, "AMOUNT")) << one;
        EXPECT_EQ(before, one);
        EXPECT_EQ(getNum(h, 1, "AMOUNT"), 0) << one;
    }
}

// The first field of a range whose text holds more than blanks: fields that are not texts, and
// texts of blanks only, are passed over.
TEST_F(Records, TheFirstNonBlankTextOfARange) {
    uint16_t h = open();
    xio_init_record(h, 1);
    const uint16_t code = fld(h, 1, "CODE"), name = fld(h, 1, "NAME"), memo = fld(h, 1, "MEMO");
    const uint16_t amount = fld(h, 1, "AMOUNT");
    ASSERT_LT(code, name);
    ASSERT_LT(amount, memo);
    ASSERT_LT(name, amount);
    put(h, 1, "CODE", "   ");
    EXPECT_EQ(xio_first_nonblank_text(h, code, memo), name) << "NAME's default";
    put(h, 1, "NAME", "  ");
    EXPECT_EQ(xio_first_nonblank_text(h, code, memo), 0) << "AMOUNT is not a text";
    put(h, 1, "MEMO", " x");
    EXPECT_EQ(xio_first_nonblank_text(h, code, memo), memo);
    EXPECT_EQ(xio_first_nonblank_text(h, code, static_cast<uint16_t>(memo - 1)), 0);
    EXPECT_EQ(xio_first_nonblank_text(h, memo, code), 0) << "an empty range";
}

// The first field of a range whose number reads as anything but 0: texts, flags and dates with
// values are passed over, a fraction of either sign and a choice are not.
TEST_F(Records, TheFirstNonZeroNumberOfARange) {
    uint16_t h = open();
    xio_init_record(h, 1);
    const uint16_t name = fld(h, 1, "NAME"), amount = fld(h, 1, "AMOUNT"), kind = fld(h, 1, "KIND");
    const uint16_t memo = fld(h, 1, "MEMO");
    EXPECT_EQ(xio_first_nonzero_number(h, name, memo), amount) << "AMOUNT's default";
    putNum(h, 1, "AMOUNT", 0);
    EXPECT_EQ(xio_first_nonzero_number(h, name, memo), kind) << "KIND's default";
    putNum(h, 1, "KIND", 0);
    EXPECT_EQ(xio_first_nonzero_number(h, name, memo), 0) << "a name, a flag and a date are no numbers";
    putNum(h, 1, "AMOUNT", -0.01);
    EXPECT_EQ(xio_first_nonzero_number(h, name, memo), amount);
    EXPECT_EQ(xio_first_nonzero_number(h, kind, memo), 0);
    EXPECT_EQ(xio_first_nonzero_number(h, memo, name), 0) << "an empty range";
}

// Reading many fields in one call gives each member what the single reads give, whatever the
// field's type, and empties or zeroes members of fields the handle does not have.
TEST_F(Records, ReadingAnImageGivesWhatTheSingleReadsGive) {
    uint16_t h = open();
    xio_init_record(h, 1);
    put(h, 1, "NAME", "Lumber");
    putNum(h, 1, "AMOUNT", -12.5);
    const uint16_t text = XIO_READ_TEXT, number = XIO_READ_NUMBER;
    const char* names[] = {"CODE", "NAME", "AMOUNT", "KIND", "ACTIVE", "OPENED", "MEMO"};
    std::vector<std::string> texts(std::size(names) + 1, "stale");
    std::vector<double> numbers(std::size(names) + 1, 7);
    std::vector<xio_image_read> reads;
    for (size_t i = 0; i <= std::size(names); ++i) {
        const uint16_t f = i < std::size(names) ? fld(h, 1, names[i]) : 60000;  // the last: no field
        reads.push_back({f, text, static_cast<uint32_t>(i * sizeof(std::string))});
    }
    xio_read_image(h, reads.data(), reads.size(), texts.data());
    for (auto& r : reads) {
        r.kind = number;
        r.offset = r.offset / sizeof(std::string) * sizeof(double);
    }
    xio_read_image(h, reads.data(), reads.size(), numbers.data());
    for (size_t i = 0; i < std::size(names); ++i) {
        const uint16_t f = fld(h, 1, names[i]);
        EXPECT_EQ(texts[i], xio_get_text(h, f)) << names[i];
        EXPECT_EQ(numbers[i], xio_get_number(h, f)) << names[i];
    }
    EXPECT_EQ(texts[1], "Lumber");
    EXPECT_EQ(numbers[2], -12.5);
    EXPECT_EQ(texts.back(), "");
    EXPECT_EQ(numbers.back(), 0);
}

// Putting many fields in one call leaves every field as the single puts leave it, whatever the
// field's type, and passes over fields the handle does not have.
TEST_F(Records, WritingAnImageLeavesWhatTheSinglePutsLeave) {
    uint16_t h = open();
    struct Image {
        std::string text;
        double number = 0;
        uint16_t word = 0;
        x_date_type date;
    };
    const char* names[] = {"CODE", "NAME", "AMOUNT", "KIND", "ACTIVE", "OPENED", "MEMO"};
    auto dump = [&] {
        std::vector<x_value_def> values;
        for (const char* n : names) xio_get_field(h, 1, fld(h, 1, n), values.emplace_back());
        return values;
    };
    const std::vector<Image> images = {{"Lumber and fasteners for the whole north wing   ", -2.6, 3, {2, 29, 2028}},
                                       {"", 0, 0, {}}};
    for (const Image& image : images)
        for (uint16_t kind = XIO_WRITE_TEXT; kind <= XIO_WRITE_DATE; ++kind)
            for (const char* name : names) {
                SCOPED_TRACE(std::string(name) + " kind " + std::to_string(kind) + " text '" + image.text + "'");
                const uint16_t f = fld(h, 1, name);
                xio_init_record(h, 1);
                put(h, 1, "NAME", "Nails");  // a text field that is not empty
                switch (kind) {
                case XIO_WRITE_TEXT: xio_put_text(h, f, image.text); break;
                case XIO_WRITE_NUMBER: xio_put_number(h, f, image.number); break;
                case XIO_WRITE_WORD: xio_put_number(h, f, image.word); break;
                case XIO_WRITE_FLAG: xio_put_flag(h, f, image.number != 0); break;
                case XIO_WRITE_WORD_FLAG: xio_put_flag(h, f, image.word != 0); break;
                default:
                    if (xio_field_def(h, f)->type == XIO_TYPE_DATE) {
                        x_value_def v;
                        v.date = image.date;
                        xio_put_field(h, 1, f, v);
                    }
                }
                const std::vector<x_value_def> single = dump();
                xio_init_record(h, 1);
                put(h, 1, "NAME", "Nails");
                const void* member = kind == XIO_WRITE_TEXT ? static_cast<const void*>(&image.text)
                                     : kind == XIO_WRITE_NUMBER || kind == XIO_WRITE_FLAG ? static_cast<const void*>(&image.number)
                                     : kind == XIO_WRITE_DATE                               ? static_cast<const void*>(&image.date)
                                                                                           : &image.word;
                const auto offset = static_cast<uint32_t>(static_cast<const char*>(member) -
                                                          reinterpret_cast<const char*>(&image));
                const xio_image_write writes[] = {{f, kind, offset}, {60000, kind, offset}};
                xio_write_image(h, writes, std::size(writes), &image);
                EXPECT_EQ(dump(), single);
            }
}

TEST_F(Records, HeadersStartAtDefaultsAndKeepWhatIsWritten) {
    uint16_t h = open();
    uint16_t lastNo = xio_num(h, XIO_NUM_HEADER, 1, "LASTNO");
    uint16_t mode = xio_num(h, XIO_NUM_HEADER, 2, "MODE");
    ASSERT_EQ(xio_rd_header(h, 1, 1), XIO_OK);
    EXPECT_EQ(xio_get_field_result(h, 0, lastNo), 100);
    x_value_def v;
    v.number = 101;
    xio_put_field(h, 1, lastNo, v);
    ASSERT_EQ(xio_wr_header(h, 1), XIO_OK);
    ASSERT_EQ(xio_rd_header(h, 2, 0), XIO_OK);
    EXPECT_EQ(xio_get_field_result(h, 0, mode), 1);
    xio_free_header(h, 2);
    close(h);
    h = open(false);
    v.number = 0;
    xio_put_field(h, 0, lastNo, v);
    ASSERT_EQ(xio_rd_header(h, 1, 0), XIO_OK);
    EXPECT_EQ(xio_get_field_result(h, 0, lastNo), 101);
    EXPECT_EQ(xio_rd_header(h, 3, 0), XIO_BAD_CALL);
}

// A text longer than its field is cut to the field's length in characters, never mid-letter;
// one of exactly the length is kept whole.
TEST_F(Records, ATextOneCharacterTooLongIsCutToTheFieldsLength) {
    uint16_t h = open();
    const uint16_t name = fld(h, 1, "NAME");  // 30 characters
    const std::string e29 = [] {
        std::string s;
        for (int i = 0; i < 29; ++i) s += "\xC3\xA9";
        return s;
    }();
    ASSERT_EQ(xio_put_text(h, name, e29 + "ab"), XIO_OK);
    EXPECT_EQ(xio_get_text(h, name), e29 + "a");
    ASSERT_EQ(xio_put_text(h, name, e29 + "b"), XIO_OK);
    EXPECT_EQ(xio_get_text(h, name), e29 + "b");
    // Letters of one and of two bytes mixed: thirty characters in forty-two bytes fill it.
    std::string mixed;
    for (int i = 0; i < 6; ++i) mixed += "\xC3\xA9t\xC3\xA9sa";
    ASSERT_EQ(xio_put_text(h, name, mixed), XIO_OK);
    EXPECT_EQ(xio_get_text(h, name), mixed);
    ASSERT_EQ(xio_put_text(h, name, mixed + "x"), XIO_OK);
    EXPECT_EQ(xio_get_text(h, name), mixed);
}

// Notes read to be changed are held like a record: a handle that read them without a lock cannot
// write over them, and the holder's notes stay as they were.
TEST_F(Records, NotesReadWithALockAreHeldFromAnotherHandle) {
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(addCustomer(a, "C1", "A1"), XIO_OK);
    put(a, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_notes(a, 1, 1), XIO_OK);
    ASSERT_EQ(xio_put_notes(a, "Kept"), XIO_OK);
    ASSERT_EQ(xio_wr_notes(a), XIO_OK);
    ASSERT_EQ(xio_rd_notes(a, 1, 1), XIO_OK);
    put(b, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_notes(b, 1, 0), XIO_OK);
    ASSERT_EQ(xio_put_notes(b, "Overwritten"), XIO_OK);
    EXPECT_EQ(xio_wr_notes(b), XIO_LOCKED);
    std::string piece;
    ASSERT_EQ(xio_rd_notes(a, 1, 0), XIO_OK);
    ASSERT_EQ(xio_get_notes(a, piece), XIO_OK);
    EXPECT_EQ(piece, "Kept");
}

TEST_F(Records, LocksWithinOneProgramBetweenHandles) {
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(addCustomer(a, "C1", "A1"), XIO_OK);
    put(a, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(a, 1, 0, 1), XIO_OK);
    put(b, 1, "CODE", "C1");
    put(b, 1, "NAME", "before");
    EXPECT_EQ(xio_rd_record(b, 1, 0, 1), XIO_LOCKED);
    EXPECT_EQ(get(b, 1, "NAME"), "before");  // a refused read leaves the buffer
    ASSERT_EQ(xio_rd_record(b, 1, 0, 0), XIO_OK);  // reading without a lock is allowed
    EXPECT_EQ(xio_rep_record(b, 1), XIO_LOCKED);
    EXPECT_EQ(xio_del_record(b, 1), XIO_LOCKED);
    ASSERT_EQ(xio_unlock_record(a, 1), XIO_OK);
    EXPECT_EQ(xio_rd_record(b, 1, 0, 1), XIO_OK);
    EXPECT_EQ(xio_rd_record(a, 1, 0, 1), XIO_LOCKED);
    ASSERT_EQ(xio_rep_record(b, 1), XIO_OK);  // replacing releases the lock
    EXPECT_EQ(xio_rd_record(a, 1, 0, 1), XIO_OK);
    // Header locks likewise, until written or freed.
    ASSERT_EQ(xio_rd_header(a, 1, 1), XIO_OK);
    EXPECT_EQ(xio_rd_header(b, 1, 1), XIO_LOCKED);
    EXPECT_EQ(xio_wr_header(b, 1), XIO_LOCKED);
    EXPECT_EQ(xio_rd_header(b, 1, 0), XIO_OK);
    ASSERT_EQ(xio_free_header(a, 1), XIO_OK);
    EXPECT_EQ(xio_rd_header(b, 1, 1), XIO_OK);
    // Closing a handle releases what it held.
    close(b);
    EXPECT_EQ(xio_rd_header(a, 1, 1), XIO_OK);
}

TEST_F(Records, RelativePositionFollowsKeyOrder) {
    uint16_t h = open();
    for (int i = 0; i < 10; ++i) ASSERT_EQ(addCustomer(h, "K" + std::to_string(i), "A" + std::to_string(i)), XIO_OK);
    ASSERT_EQ(xio_rd_first(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(xio_get_relative_position(h, 1, 0, 0), 10);
    for (int i = 0; i < 4; ++i) ASSERT_EQ(xio_rd_next(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(xio_get_relative_position(h, 1, 0, 0), 50);
    ASSERT_EQ(xio_rd_last(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(xio_get_relative_position(h, 1, 0, 0), 100);
    xio_init_record(h, 1);
    put(h, 1, "CODE", "K6");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(xio_get_relative_position(h, 1, 0, 0), 70);
    // A walk that replaces every record it reads.
    std::string seen;
    for (int s = xio_rd_first(h, 1, 0, 1); s == XIO_OK; s = xio_rd_next(h, 1, 0, 1)) {
        put(h, 1, "NAME", "walked");
        ASSERT_EQ(xio_rep_record(h, 1), XIO_OK);
        seen += std::to_string(xio_get_relative_position(h, 1, 0, 0)) + " ";
    }
    EXPECT_EQ(seen, "10 20 30 40 50 60 70 80 90 100 ");
    // A record added or deleted changes the count.
    ASSERT_EQ(addCustomer(h, "A0", "B0"), XIO_OK);
    ASSERT_EQ(xio_rd_last(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(xio_get_relative_position(h, 1, 0, 0), 100);
    ASSERT_EQ(xio_rd_previous(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(xio_get_relative_position(h, 1, 0, 0), 90);  // 10 of 11
    ASSERT_EQ(xio_rd_first(h, 1, 0, 1), XIO_OK);
    ASSERT_EQ(xio_del_record(h, 1), XIO_OK);
    ASSERT_EQ(xio_rd_first(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(xio_get_relative_position(h, 1, 0, 0), 10);
    // The count behind the positions.
    EXPECT_EQ(xio_record_count(h, 1), 10);
    ASSERT_EQ(addCustomer(h, "A1", "B1"), XIO_OK);
    EXPECT_EQ(xio_record_count(h, 1), 11);
    EXPECT_EQ(xio_record_count(h, 99), 0);
    EXPECT_EQ(xio_record_count(0, 1), 0);
}

TEST_F(Records, DefinitionsDescribeTheFile) {
    uint16_t h = open();
    xio_file_def fd;
    ASSERT_EQ(xio_get_def(h, fd), XIO_OK);
    EXPECT_EQ(fd.path, (dir / "MASTER.TST").string());
    EXPECT_EQ(fd.keyCount, 4);
    EXPECT_EQ(fd.recordNumbers, (std::vector<uint16_t>{1, 2}));
    EXPECT_EQ(fd.headerNumbers, (std::vector<uint16_t>{1, 2}));
    xio_rec_def rd;
    ASSERT_EQ(xio_get_rec_def(h, 2, rd, 1), XIO_OK);
    EXPECT_EQ(rd.name, "Contact");
    xio_key_def kd;
    ASSERT_EQ(xio_get_key_def(h, 3, kd), XIO_OK);
    EXPECT_EQ(kd.record, 1);
    EXPECT_TRUE(kd.blankAllowed);
    EXPECT_EQ(kd.fields, (std::vector<uint16_t>{fld(h, 1, "REF")}));
    ASSERT_EQ(xio_get_key_def(h, 0, kd, 2), XIO_OK);
    EXPECT_EQ(kd.fields, (std::vector<uint16_t>{fld(h, 2, "CCODE"), fld(h, 2, "SEQ")}));
    EXPECT_EQ(xio_get_key_def(h, 5, kd), XIO_BAD_CALL);
    xio_fld_def f;
    ASSERT_EQ(xio_get_fld_def(h, fld(h, 1, "AMOUNT"), f, 1, true), XIO_OK);
    EXPECT_EQ(f.name, "AMOUNT");
    EXPECT_EQ(f.description, "Balance");
    EXPECT_EQ(f.decimals, 2);
    EXPECT_TRUE(f.isSigned);
    EXPECT_EQ(f.record, 1);
    std::string item = "x";
    uint16_t kind = fld(h, 1, "KIND");
    ASSERT_EQ(xio_get_item_alpha(h, kind, 0, item), XIO_OK);
    EXPECT_EQ(item, "");
    ASSERT_EQ(xio_get_item_alpha(h, kind, 2, item), XIO_OK);
    EXPECT_EQ(item, "Wholesale");
    EXPECT_EQ(xio_get_item_alpha(h, kind, 4, item), XIO_NOT_FOUND);
}

// Reads of chosen fields fetch those and the key fields; nothing else in the buffer may carry
// another record's value, and nothing unread may reach the file.
TEST_F(Records, ReadsOfChosenFieldsStoreNothingUnread) {
    uint16_t h = open();
    xio_init_record(h, 1);
    put(h, 1, "CODE", "A"), put(h, 1, "ALTKEY", "a1"), put(h, 1, "NAME", "Alpha"), put(h, 1, "MEMO", "kept");
    putNum(h, 1, "AMOUNT", 10);
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    ASSERT_EQ(addCustomer(h, "B", "b1", "Beta"), XIO_OK);
    const uint16_t amount = fld(h, 1, "AMOUNT");
    EXPECT_EQ(xio_read_fields(h, 1, {fld(h, 2, "PERSON")}), XIO_BAD_CALL);
    EXPECT_EQ(walk(h, 0, "NAME"), "Alpha,Beta");  // the refused choice changed nothing
    ASSERT_EQ(xio_read_fields(h, 1, {amount}), XIO_OK);

    // Key fields (of every key) and the chosen field are read; the rest hold their defaults,
    // not what the whole read of A left in the buffer.
    EXPECT_EQ(walk(h, 1, "ALTKEY"), "a1,b1");
    ASSERT_EQ(xio_rd_first(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "CODE"), "A");
    EXPECT_EQ(getNum(h, 1, "AMOUNT"), 10);
    EXPECT_EQ(get(h, 1, "NAME"), "NEW");
    EXPECT_EQ(get(h, 1, "MEMO"), "");

    // A replace stores the fields read and keeps the others as stored.
    putNum(h, 1, "AMOUNT", 12.5);
    ASSERT_EQ(xio_rep_record(h, 1), XIO_OK);
    // One with a value put into an unread field is refused, as is adding the buffer.
    put(h, 1, "NAME", "Lost");
    EXPECT_EQ(xio_rep_record(h, 1), XIO_BAD_CALL);
    put(h, 1, "CODE", "C");
    EXPECT_EQ(xio_wr_record(h, 1), XIO_BAD_CALL);
    // A saved copy keeps the mark; a buffer started afresh is whole.
    ASSERT_EQ(xio_rd_first(h, 1, 0, 0), XIO_OK);
    const uint16_t id = xio_save_record(h, 1);
    xio_init_record(h, 1);
    ASSERT_EQ(xio_restore_record_id(h, id), XIO_OK);
    put(h, 1, "CODE", "C");
    EXPECT_EQ(xio_wr_record(h, 1), XIO_BAD_CALL);
    xio_init_record(h, 1);
    put(h, 1, "CODE", "C"), put(h, 1, "ALTKEY", "c1");
    EXPECT_EQ(xio_wr_record(h, 1), XIO_OK);

    ASSERT_EQ(xio_read_fields(h, 1, {}), XIO_OK);
    put(h, 1, "CODE", "A");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "NAME"), "Alpha");
    EXPECT_EQ(get(h, 1, "MEMO"), "kept");
    EXPECT_EQ(getNum(h, 1, "AMOUNT"), 12.5);
    EXPECT_EQ(walk(h, 0, "NAME"), "Alpha,Beta,NEW");
}


// A walk inside a transaction reads the rows after its cursor in batches: every read must still
// give what a seek from the cursor gives, whatever was written in between and by whom.
TEST_F(Records, WalksInATransactionSeeEveryWriteMadeMeanwhile) {
    uint16_t a = open();
    uint16_t b = open(false);
    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    for (int i = 0; i < 300; ++i) {
        char code[8], alt[8];
        std::snprintf(code, sizeof code, "K%03d", i);
        std::snprintf(alt, sizeof alt, "A%03d", 299 - i);
        ASSERT_EQ(addCustomer(a, code, alt, "N" + std::to_string(i)), XIO_OK);
    }
    ASSERT_EQ(xio_end_writes(a), XIO_OK);
    const std::string before = walk(a, 0);
    ASSERT_EQ(xio_begin_reads(a), XIO_OK);
    EXPECT_EQ(walk(a, 0), before);
    EXPECT_EQ(walk(a, 1, "ALTKEY").substr(0, 9), "A000,A001");
    EXPECT_EQ(xio_end_reads(a), XIO_OK);

    ASSERT_EQ(xio_start_writes(a), XIO_OK);
    ASSERT_EQ(xio_start_writes(b), XIO_OK);
    std::string seen;
    int n = 0;
    for (int s = xio_rd_first(a, 1, 0, 0); s == XIO_OK; s = xio_rd_next(a, 1, 0, 0), ++n) {
        seen += get(a, 1, "CODE") + "=" + get(a, 1, "NAME") + " ";
        if (n == 100) {  // another handle renames a row ahead and adds one right after the cursor
            put(b, 1, "CODE", "K150");
            ASSERT_EQ(xio_rd_record(b, 1, 0, 1), XIO_OK);
            put(b, 1, "NAME", "renamed");
            ASSERT_EQ(xio_rep_record(b, 1), XIO_OK);
            ASSERT_EQ(addCustomer(b, "K100a", "B1", "added"), XIO_OK);
        }
        if (n == 200) {  // this handle deletes the row ahead of it
            xio_init_record(b, 1);
            put(b, 1, "CODE", "K202");
            ASSERT_EQ(xio_rd_record(b, 1, 0, 1), XIO_OK);
            ASSERT_EQ(xio_del_record(b, 1), XIO_OK);
        }
    }
    EXPECT_EQ(xio_status(a), XIO_END);
    EXPECT_EQ(n, 300);  // 300, one added, one deleted
    EXPECT_THAT(seen, HasSubstr("K100=N100 K100a=added K101=N101"));
    EXPECT_THAT(seen, HasSubstr("K150=renamed K151=N151"));
    EXPECT_THAT(seen, HasSubstr("K201=N201 K203=N203"));
    EXPECT_THAT(seen, HasSubstr("K299=N299 "));

    // Positions and locks stay those of a record-by-record walk; a rollback drops what was added.
    ASSERT_EQ(xio_rd_first(a, 1, 0, 0), XIO_OK);
    for (int i = 0; i < 149; ++i) ASSERT_EQ(xio_rd_next(a, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(a, 1, "CODE"), "K148");  // K100a came before it
    EXPECT_EQ(xio_get_relative_position(a, 1), 50);
    ASSERT_EQ(xio_rd_next(a, 1, 0, 1), XIO_OK);
    EXPECT_EQ(get(a, 1, "CODE"), "K149");
    put(b, 1, "CODE", "K149");
    EXPECT_EQ(xio_rd_record(b, 1, 0, 1), XIO_LOCKED);
    ASSERT_EQ(xio_rollback(a), XIO_OK);
    EXPECT_EQ(walk(a, 0), before);

    // Chosen fields: the rows read ahead hold only those, the others their defaults.
    const uint16_t fName = fld(a, 1, "NAME");
    ASSERT_EQ(xio_read_fields(a, 1, {fName}), XIO_OK);
    ASSERT_EQ(xio_begin_reads(a), XIO_OK);
    n = 0;
    for (int s = xio_rd_first(a, 1, 0, 0); s == XIO_OK; s = xio_rd_next(a, 1, 0, 0), ++n) {
        ASSERT_EQ(get(a, 1, "NAME"), "N" + std::to_string(n));
        ASSERT_EQ(getNum(a, 1, "AMOUNT"), 150);
    }
    EXPECT_EQ(n, 300);
}

// Reads of the data file that fail from the moment a test arms them (the file's other calls
// go through), by way of a default file system that hands out the real one's files.
struct FailingReads {
    static inline bool armed = false;
    static inline sqlite3_vfs* real = nullptr;
    static inline sqlite3_vfs vfs{};
    static inline const sqlite3_io_methods* realMethods = nullptr;
    static inline sqlite3_io_methods methods{};
    static int read(sqlite3_file* f, void* p, int n, sqlite3_int64 at) {
        return armed ? SQLITE_IOERR_READ : realMethods->xRead(f, p, n, at);
    }
    static int openFile(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* out) {
        const int rc = real->xOpen(real, name, f, flags, out);
        if (rc == SQLITE_OK && f->pMethods && (flags & SQLITE_OPEN_MAIN_DB)) {
            realMethods = f->pMethods;
            methods = *f->pMethods;
            methods.xRead = read;
            f->pMethods = &methods;
        }
        return rc;
    }
    FailingReads() {
        real = sqlite3_vfs_find(nullptr);
        vfs = *real;
        vfs.zName = "failing-reads";
        vfs.xOpen = openFile;
        sqlite3_vfs_register(&vfs, 1);
    }
    ~FailingReads() {
        armed = false;
        sqlite3_vfs_unregister(&vfs);
        sqlite3_vfs_register(real, 1);
    }
};

// A read that fails while the rows after the cursor are read ahead, and so ends SQLite's
// transaction, says so: the writes of the transaction are gone, and later ones would each be
// kept on their own.
TEST_F(Records, AFailedReadAheadThatEndsTheTransactionFailsItsRead) {
    uint16_t h = open();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    for (int i = 0; i < 3000; ++i) {
        char code[8];
        std::snprintf(code, sizeof code, "K%04d", i);
        ASSERT_EQ(addCustomer(h, code, code, "Name of customer " + std::to_string(i)), XIO_OK);
    }
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    close(h);  // its connection and pages go with it
    FailingReads failing;
    h = open(false);
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    ASSERT_EQ(addCustomer(h, "Z", "Z"), XIO_OK);
    sqlite3* db = xio::connection(h);
    ASSERT_FALSE(sqlite3_get_autocommit(db));
    int s = xio_rd_first(h, 1, 0, 0);
    int n = 0;
    for (; s == XIO_OK && n < 3000; ++n) {
        FailingReads::armed = true;
        s = xio_rd_next(h, 1, 0, 0);
        FailingReads::armed = false;
        if (s == XIO_OK) {
            ASSERT_FALSE(sqlite3_get_autocommit(db)) << "read " << n << " answered OK";
        }
    }
    EXPECT_EQ(s, XIO_IO_ERROR);
    EXPECT_TRUE(sqlite3_get_autocommit(db));
}

// What a read transaction found out (a record type without rows) does not outlive it.
TEST_F(Records, AReadTransactionSeesRowsAddedSinceAnEarlierOne) {
    uint16_t h = open();
    ASSERT_EQ(xio_start_writes(h), XIO_OK);
    put(h, 1, "CODE", "C1");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 0), XIO_NOT_FOUND);
    ASSERT_EQ(xio_end_writes(h), XIO_OK);
    ASSERT_EQ(addCustomer(h, "C1", "A1"), XIO_OK);  // committed by itself
    ASSERT_EQ(xio_begin_reads(h), XIO_OK);
    xio_init_record(h, 1);
    put(h, 1, "CODE", "C1");
    EXPECT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(xio_end_reads(h), XIO_OK);
}


// Numbers are stored as SQLite stores the double itself, whole ones and large ones alike.
TEST_F(Records, NumbersAreStoredAsTheirDoubles) {
    const double values[] = {0.0, -0.0, 1.25, -3.0, 9007199254740992.0, 36028797018963968.0, 1e300, -12345678.5};
    uint16_t h = open();
    int n = 0;
    for (double v : values) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", "N" + std::to_string(n));
        put(h, 1, "ALTKEY", "A" + std::to_string(n++));
        putNum(h, 1, "AMOUNT", v);
        ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    }
    sqlite3* file = nullptr;
    sqlite3* mem = nullptr;
    ASSERT_EQ(sqlite3_open_v2((dir / "MASTER.TST").c_str(), &file, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_open(":memory:", &mem), SQLITE_OK);
    sqlite3_exec(mem, "CREATE TABLE t(a REAL NOT NULL)", nullptr, nullptr, nullptr);
    auto stored = [](sqlite3* db, const char* sql, double bound) {
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(db, sql, -1, &st, nullptr);
        if (!std::isnan(bound)) sqlite3_bind_double(st, 1, bound);
        std::string out = sqlite3_step(st) == SQLITE_ROW
                              ? reinterpret_cast<const char*>(sqlite3_column_text(st, 0)) + std::string(" ") +
                                    reinterpret_cast<const char*>(sqlite3_column_text(st, 1))
                              : "none";
        sqlite3_finalize(st);
        return out;
    };
    n = 0;
    for (double v : values) {
        const std::string code = "N" + std::to_string(n++);
        sqlite3_exec(mem, "DELETE FROM t", nullptr, nullptr, nullptr);
        sqlite3_stmt* ins = nullptr;
        sqlite3_prepare_v2(mem, "INSERT INTO t VALUES(?1)", -1, &ins, nullptr);
        sqlite3_bind_double(ins, 1, v);
        sqlite3_step(ins);
        sqlite3_finalize(ins);
        EXPECT_EQ(stored(file, ("SELECT quote(AMOUNT), typeof(AMOUNT) FROM r1 WHERE CODE = '" + code + "'").c_str(), NAN),
                  stored(mem, "SELECT quote(a), typeof(a) FROM t", NAN))
            << v;
        put(h, 1, "CODE", code);
        ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
        EXPECT_EQ(getNum(h, 1, "AMOUNT"), v);
    }
    sqlite3_close(file);
    sqlite3_close(mem);
}

// The one-statement walk reads what a keyed read would: the chosen fields and the keys, the
// rest at their defaults; the record offered may be replaced on the way, and is offered once.
TEST_F(Records, WalksOfChosenFieldsOfferEachRecordOnceAndMayReplaceIt) {
    uint16_t h = open();
    for (const char* code : {"beta", "Alpha", "GAMMA"}) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", code), put(h, 1, "ALTKEY", std::string(code) + "1"), put(h, 1, "NAME", std::string("N") + code);
        putNum(h, 1, "AMOUNT", 1);
        ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    }
    ASSERT_EQ(xio_read_fields(h, 1, {fld(h, 1, "AMOUNT")}), XIO_OK);
    std::string seen;
    int s = xio_rd_every_chosen(h, 1, [&] {
        seen += get(h, 1, "CODE") + "/" + get(h, 1, "NAME") + " ";
        putNum(h, 1, "AMOUNT", getNum(h, 1, "AMOUNT") + 1);
        return xio_rep_record(h, 1) == XIO_OK;
    });
    EXPECT_EQ(s, XIO_END);
    EXPECT_EQ(seen, "Alpha/NEW beta/NEW GAMMA/NEW ");
    s = xio_rd_every_chosen(h, 1, [&] { return get(h, 1, "CODE") != "beta"; });
    EXPECT_EQ(s, XIO_END);
    EXPECT_EQ(get(h, 1, "CODE"), "beta");  // false ended the walk there

    ASSERT_EQ(xio_read_fields(h, 1, {}), XIO_OK);
    seen.clear();
    ASSERT_EQ(xio_rd_every_chosen(h, 1, [&] {
        seen += get(h, 1, "NAME") + "=" + std::to_string(static_cast<int>(getNum(h, 1, "AMOUNT"))) + " ";
        return true;
    }), XIO_END);
    EXPECT_EQ(seen, "NAlpha=2 Nbeta=2 NGAMMA=2 ");
}

// Starting a record gives back every default whatever changed the buffer before: each kind of
// put, a keyed read, a walk, a restored copy, a zeroing of numbers, and puts after a read.
TEST_F(Records, StartingARecordUndoesEveryWayTheBufferChanged) {
    uint16_t h = open();
    const char* names[] = {"CODE", "ALTKEY", "NAME", "AMOUNT", "ACTIVE", "KIND", "OPENED", "AT", "MEMO"};
    auto cells = [&] {
        std::vector<x_value_def> out;
        for (const char* name : names) {
            x_value_def v;
            EXPECT_EQ(xio_get_field(h, 1, fld(h, 1, name), v), XIO_OK);
            out.push_back(v);
        }
        return out;
    };
    ASSERT_EQ(xio_init_record(h, 1), XIO_OK);
    const std::vector<x_value_def> defaults = cells();
    auto putAll = [&] {
        put(h, 1, "CODE", "C1");
        put(h, 1, "ALTKEY", "A1");
        ASSERT_EQ(xio_put_text(h, fld(h, 1, "NAME"), "Name"), XIO_OK);
        ASSERT_EQ(xio_put_number(h, fld(h, 1, "AMOUNT"), 9.5), XIO_OK);
        ASSERT_EQ(xio_put_flag(h, fld(h, 1, "ACTIVE"), 0), XIO_OK);
        ASSERT_EQ(xio_put_number(h, fld(h, 1, "KIND"), 4), XIO_OK);
        ASSERT_EQ(xio_put_text(h, fld(h, 1, "MEMO"), "memo"), XIO_OK);
    };
    auto startsAtDefaults = [&](const char* after) {
        SCOPED_TRACE(after);
        ASSERT_EQ(xio_init_record(h, 1), XIO_OK);
        EXPECT_TRUE(cells() == defaults);
    };
    putAll();
    startsAtDefaults("puts");
    putAll();
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    startsAtDefaults("a write");
    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    EXPECT_EQ(get(h, 1, "MEMO"), "memo");
    startsAtDefaults("a keyed read");
    put(h, 1, "CODE", "C1");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    xio_init_record(h, 1);  // started, then read again by a walk after a put
    put(h, 1, "NAME", "x");
    ASSERT_EQ(xio_rd_every(h, 1, [] { return true; }), XIO_END);
    startsAtDefaults("a walk");
    putAll();
    const uint16_t id = xio_save_record(h, 1);
    ASSERT_NE(id, 0);
    xio_init_record(h, 1);
    ASSERT_EQ(xio_restore_record_id(h, id), XIO_OK);
    EXPECT_EQ(get(h, 1, "MEMO"), "memo");
    startsAtDefaults("a restore");
    double first = 0;  // the default amount is not zero
    EXPECT_NE(xio_zero_numbers(h, fld(h, 1, "AMOUNT"), fld(h, 1, "AMOUNT"), first), 0);
    startsAtDefaults("zeroed numbers");
}

// Rows written one after another store each its own values, however the buffer was filled in
// between: started afresh, read and then changed, or changed again after a write.
TEST_F(Records, EachRowStoresItsOwnValuesWhateverFilledTheBuffer) {
    uint16_t h = open();
    const std::string defaultName = (xio_init_record(h, 1), get(h, 1, "NAME"));
    auto start = [&](const std::string& code) {
        xio_init_record(h, 1);
        put(h, 1, "CODE", code);
        put(h, 1, "ALTKEY", code);
    };
    auto recode = [&](const std::string& code) {  // the buffer as it is, under another key
        put(h, 1, "CODE", code);
        put(h, 1, "ALTKEY", code);
    };
    start("A");
    put(h, 1, "NAME", "name A");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    start("B");
    put(h, 1, "MEMO", "memo B");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    start("A");
    ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
    recode("C");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    recode("D");
    put(h, 1, "NAME", "name of D");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    start("E");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    start("F");
    put(h, 1, "NAME", "name F");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    recode("G");
    put(h, 1, "MEMO", "memo G");
    ASSERT_EQ(xio_wr_record(h, 1), XIO_OK);
    const std::pair<const char*, std::pair<std::string, std::string>> expected[] = {
        {"A", {"name A", ""}}, {"B", {defaultName, "memo B"}}, {"C", {"name A", ""}}, {"D", {"name of D", ""}},
        {"E", {defaultName, ""}}, {"F", {"name F", ""}}, {"G", {"name F", "memo G"}}};
    for (const auto& [code, values] : expected) {
        SCOPED_TRACE(code);
        start(code);
        ASSERT_EQ(xio_rd_record(h, 1, 0, 0), XIO_OK);
        EXPECT_EQ(get(h, 1, "NAME"), values.first);
        EXPECT_EQ(get(h, 1, "MEMO"), values.second);
    }
}

}  // namespace
}  // namespace dz::test
