#include "platform/ui/shown_stream.h"

#include <iostream>

#include "platform/ui/shown_text.h"

namespace dz::ui {

ShownStreamBuf::~ShownStreamBuf() {
    release();
    target_->pubsync();
}

bool ShownStreamBuf::pass(std::string_view bytes) {
    return target_->sputn(bytes.data(), static_cast<std::streamsize>(bytes.size())) ==
           static_cast<std::streamsize>(bytes.size());
}

bool ShownStreamBuf::release() {
    if (held_.empty()) return true;
    const std::string held = std::move(held_);
    held_.clear();
    return pass(shown_text(held));
}

void ShownStreamBuf::write_controls(std::string_view bytes) {
    release();
    pass(bytes);
}

std::streamsize ShownStreamBuf::xsputn(const char* s, std::streamsize n) {
    std::string joined;
    std::string_view text(s, static_cast<std::size_t>(n));
    if (!held_.empty()) {
        joined = std::move(held_) + std::string(text);
        held_.clear();
        text = joined;
    }
    bool ok = true;
    // Runs of bytes that need nothing go as they are; each control is shown.
    std::size_t plain = 0;
    auto flush_plain = [&](std::size_t end) {
        if (end > plain) ok = pass(text.substr(plain, end - plain)) && ok;
    };
    for (std::size_t i = 0; i < text.size();) {
        if (text[i] == '\n') {
            ++i;
            continue;
        }
        bool cut = false;
        if (shown_detail::utf8_char(text, i, &cut) == 0 && cut) {
            flush_plain(i);
            held_.assign(text.substr(i));
            plain = text.size();
            break;
        }
        const std::size_t control = shown_detail::control_bytes(text, i);
        if (control == 0) {
            i += shown_detail::unit_bytes(text, i);
            continue;
        }
        flush_plain(i);
        ok = pass(shown_text(text.substr(i, control))) && ok;
        i += control;
        plain = i;
    }
    flush_plain(text.size());
    return ok ? n : 0;
}

ShownStreamBuf::int_type ShownStreamBuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    return xsputn(&ch, 1) == 1 ? c : traits_type::eof();
}

int ShownStreamBuf::sync() { return target_->pubsync(); }

ShownStandardStreams::ShownStandardStreams()
    : out_(std::cout.rdbuf()), err_(std::cerr.rdbuf()), log_(std::clog.rdbuf()) {
    std::cout.rdbuf(&out_);
    std::cerr.rdbuf(&err_);
    std::clog.rdbuf(&log_);
}

ShownStandardStreams::~ShownStandardStreams() {
    std::cout.flush();
    std::cerr.flush();
    std::clog.flush();
    std::cout.rdbuf(out_.target());
    std::cerr.rdbuf(err_.target());
    std::clog.rdbuf(log_.target());
}

void write_controls(std::ostream& out, std::string_view controls) {
    if (auto* shown = dynamic_cast<ShownStreamBuf*>(out.rdbuf())) {
        out.flush();
        shown->write_controls(controls);
    } else {
        out << controls;
    }
}

}  // namespace dz::ui
