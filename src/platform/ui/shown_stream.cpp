#include "platform/ui/shown_stream.h"

#include <iostream>

#include "platform/ui/shown_text.h"

namespace dz::ui {

ShownStreamBuf::~ShownStreamBuf() {
    if (heldC2_) pass("\xc2");
    target_->pubsync();
}

bool ShownStreamBuf::pass(std::string_view bytes) {
    return target_->sputn(bytes.data(), static_cast<std::streamsize>(bytes.size())) ==
           static_cast<std::streamsize>(bytes.size());
}

void ShownStreamBuf::write_controls(std::string_view bytes) {
    if (heldC2_) {
        heldC2_ = false;
        pass("\xc2");
    }
    pass(bytes);
}

std::streamsize ShownStreamBuf::xsputn(const char* s, std::streamsize n) {
    const std::string_view text(s, static_cast<std::size_t>(n));
    std::size_t i = 0;
    bool ok = true;
    if (heldC2_) {
        heldC2_ = false;
        if (!text.empty() && static_cast<unsigned char>(text[0]) >= 0x80 &&
            static_cast<unsigned char>(text[0]) <= 0x9f) {
            ok = pass(shown_text(std::string("\xc2") + text[0]));
            i = 1;
        } else {
            ok = pass("\xc2");
        }
    }
    // Runs of bytes that need nothing go as they are; each control is shown.
    std::size_t plain = i;
    auto flush_plain = [&](std::size_t end) {
        if (end > plain) ok = pass(text.substr(plain, end - plain)) && ok;
    };
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c == '\n') continue;
        if (c == 0xc2 && i + 1 == text.size()) {
            flush_plain(i);
            heldC2_ = true;
            plain = i + 1;
            continue;
        }
        const bool c1 = shown_detail::is_c1_after(text, i);
        if (!shown_detail::is_control(c) && !c1) continue;
        flush_plain(i);
        const std::size_t bytes = c1 ? 2 : 1;
        ok = pass(shown_text(text.substr(i, bytes))) && ok;
        i += bytes - 1;
        plain = i + 1;
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
