#include "platform/import/xvl_rollback.h"

namespace dz::xvl {

xvlRollbackStack::~xvlRollbackStack() {
    for (const Change& c : changes_)
        if (c.type == Replaced && c.savedId != 0) xio_unsave_record(c.file, c.savedId);
}

void xvlRollbackStack::pushRecord(uint16_t file, uint16_t rec, int changeType, uint16_t savedId) {
    Change c;
    c.file = file;
    c.rec = rec;
    c.type = changeType == Added ? Added : Replaced;
    c.savedId = c.type == Replaced ? savedId : 0;
    xio_rec_def def;
    if (xio_get_rec_def(file, rec, def) == XIO_OK) {
        c.keyFields = def.primaryKeyFields;
        for (uint16_t f : c.keyFields) {
            x_value_def v;
            xio_get_field(file, rec, f, v);
            c.key.push_back(v);
        }
    }
    changes_.push_back(std::move(c));
}

bool xvlRollbackStack::rollback() {
    bool ok = true;
    while (!changes_.empty()) {
        Change c = std::move(changes_.back());
        changes_.pop_back();
        // Make the record as it stands now the current one, by the key it was written with.
        for (std::size_t i = 0; i < c.keyFields.size(); ++i) xio_put_field(c.file, c.rec, c.keyFields[i], c.key[i]);
        const int rd = c.keyFields.empty() ? XIO_BAD_CALL : xio_rd_record(c.file, c.rec, 0, 1);
        if (c.type == Added) {
            if (rd != XIO_OK || xio_del_record(c.file, c.rec) != XIO_OK) ok = false;
            continue;
        }
        if (rd != XIO_OK) {
            if (c.savedId) xio_unsave_record(c.file, c.savedId);
            ok = false;
            continue;
        }
        if (c.savedId == 0 || xio_restore_record_id(c.file, c.savedId) != XIO_OK ||
            xio_rep_record(c.file, c.rec) != XIO_OK) {
            xio_unlock_record(c.file, c.rec, 1);
            ok = false;
        }
    }
    return ok;
}

}  // namespace dz::xvl
