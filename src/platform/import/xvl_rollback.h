// Undoing the writes of a group of records (all or nothing).
//
// After each successful write of a group the caller pushes what it did: a record added, or a
// record replaced together with the id of the copy it saved (xio_save_record) before the
// replacement. rollback() undoes the pushed changes newest first: an added record is deleted
// by the key it was written with, a replaced record gets its saved copy back. Saved copies
// that are not used (no rollback) are dropped when the stack goes away.
#pragma once

#include "platform/datafile/xio.h"

#include <cstdint>
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
    // (the others are still undone).
    bool rollback();
    std::size_t size() const { return changes_.size(); }

private:
    struct Change {
        uint16_t file = 0;
        uint16_t rec = 0;
        int type = Added;
        uint16_t savedId = 0;
        std::vector<uint16_t> keyFields;
        std::vector<x_value_def> key;
    };
    std::vector<Change> changes_;
};

}  // namespace dz::xvl
