// Undoing the writes of a group of records (all or nothing).
//
// After each successful write of a group the caller pushes what it did: a record added, or a
// record replaced together with the id of the copy it saved (xio_save_record) before the
// replacement. rollback() undoes the pushed changes newest first: an added record is deleted
// by the key it was written with, a replaced record gets its saved copy back. Saved copies
// that are not used (no rollback) are dropped by clear() or when the stack goes away.
//
// A stack serves group after group: clear() keeps its storage, so that a long run of groups
// pushes without allocating.
#pragma once

#include "platform/datafile/xio.h"

#include <cstdint>
#include <string>
#include <vector>

namespace dz::xvl {

class xvlRollbackStack {
public:
    enum ChangeType : int { Replaced = 0, Added = 1 };

    xvlRollbackStack() = default;
    ~xvlRollbackStack();
    xvlRollbackStack(const xvlRollbackStack&) = delete;
    xvlRollbackStack& operator=(const xvlRollbackStack&) = delete;

    // Records a change; the record's key is taken from the file's buffer of `rec` now, so
    // call it right after the write.
    void pushRecord(uint16_t file, uint16_t rec, int changeType, uint16_t savedId);
    // Undoes every pushed change, newest first. False when one of them could not be undone
    // (the others are still undone); DiskFull() then tells whether the disk was full.
    bool rollback();
    // True when an undo of the last rollback() failed for lack of space.
    bool DiskFull() const { return diskFull_; }
    // Keeps every pushed change: their saved copies are dropped and the stack is empty again.
    void clear();
    std::size_t size() const { return changes_.size(); }

private:
    // One key field's value as the buffer held it: a text (in texts_), a number, or any other
    // value whole (in others_).
    struct KeyValue {
        enum Kind : uint8_t { Text, Number, Other };
        uint16_t field = 0;
        Kind kind = Text;
        uint32_t at = 0;    // Text: offset into texts_; Other: index into others_
        uint32_t size = 0;  // Text: length
        double number = 0;
    };
    struct Change {
        uint16_t file = 0;
        uint16_t rec = 0;
        int type = Added;
        uint16_t savedId = 0;
        uint32_t firstKey = 0;  // its key values are keys_[firstKey, firstKey + keyCount)
        uint32_t keyCount = 0;
    };
    // Puts the key of `c` back into the buffer of its record; false when it has none.
    bool putKey(const Change& c);
    void forgetKeys();

    std::vector<Change> changes_;
    std::vector<KeyValue> keys_;
    std::string texts_;
    std::vector<x_value_def> others_;
    bool diskFull_ = false;
};

}  // namespace dz::xvl
