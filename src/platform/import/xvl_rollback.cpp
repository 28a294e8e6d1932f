#include "platform/import/xvl_rollback.h"

namespace dz::xvl {

xvlRollbackStack::~xvlRollbackStack() { clear(); }

void xvlRollbackStack::clear() {
    for (const Change& c : changes_)
        if (c.type == Replaced && c.savedId != 0) xio_unsave_record(c.file, c.savedId);
    changes_.clear();
    forgetKeys();
}

void xvlRollbackStack::forgetKeys() {
    keys_.clear();
    texts_.clear();
    others_.clear();
}

void xvlRollbackStack::pushRecord(uint16_t file, uint16_t rec, int changeType, uint16_t savedId) {
    Change c;
    c.file = file;
    c.rec = rec;
    c.type = changeType == Added ? Added : Replaced;
    c.savedId = c.type == Replaced ? savedId : 0;
    c.firstKey = static_cast<uint32_t>(keys_.size());
    // The key is kept by value, in the stack's own storage: texts and numbers straight from
    // their cells, anything else as the buffer gives it.
    if (const std::vector<uint16_t>* fields = xio_primary_key_fields(file, rec)) {
        for (uint16_t f : *fields) {
            const xio_fld_def* def = xio_field_def(file, f);
            const uint16_t type = def ? def->type : 0;
            KeyValue k;
            k.field = f;
            if (xio_is_text_type(type)) {
                const std::string& text = xio_get_text(file, f);
                k.kind = KeyValue::Text;
                k.at = static_cast<uint32_t>(texts_.size());
                k.size = static_cast<uint32_t>(text.size());
                texts_ += text;
            } else if (type == XIO_TYPE_NUMBER) {
                k.kind = KeyValue::Number;
                k.number = xio_get_number(file, f);
            } else {
                k.kind = KeyValue::Other;
                k.at = static_cast<uint32_t>(others_.size());
                xio_get_field(file, rec, f, others_.emplace_back());
            }
            keys_.push_back(k);
        }
        c.keyCount = static_cast<uint32_t>(fields->size());
    }
    changes_.push_back(c);
}

bool xvlRollbackStack::putKey(const Change& c) {
    for (uint32_t i = c.firstKey; i < c.firstKey + c.keyCount; ++i) {
        const KeyValue& k = keys_[i];
        switch (k.kind) {
        case KeyValue::Text: xio_put_text(c.file, k.field, std::string_view(texts_).substr(k.at, k.size)); break;
        case KeyValue::Number: xio_put_number(c.file, k.field, k.number); break;
        case KeyValue::Other: xio_put_field(c.file, c.rec, k.field, others_[k.at]); break;
        }
    }
    return c.keyCount != 0;
}

bool xvlRollbackStack::rollback() {
    bool ok = true;
    diskFull_ = false;
    // A write of the undo that found no room says so.
    auto written = [this](int status) {
        diskFull_ = diskFull_ || status == XIO_DISK_FULL;
        return status == XIO_OK;
    };
    while (!changes_.empty()) {
        const Change c = changes_.back();
        changes_.pop_back();
        // Make the record as it stands now the current one, by the key it was written with.
        const int rd = putKey(c) ? xio_rd_record(c.file, c.rec, 0, 1) : XIO_BAD_CALL;
        if (c.type == Added) {
            if (rd != XIO_OK || !written(xio_del_record(c.file, c.rec))) ok = false;
            continue;
        }
        if (rd != XIO_OK) {
            if (c.savedId) xio_unsave_record(c.file, c.savedId);
            ok = false;
            continue;
        }
        if (c.savedId == 0 || !written(xio_restore_record_id(c.file, c.savedId)) ||
            !written(xio_rep_record(c.file, c.rec))) {
            xio_unlock_record(c.file, c.rec, 1);
            ok = false;
        }
    }
    forgetKeys();
    return ok;
}

}  // namespace dz::xvl
