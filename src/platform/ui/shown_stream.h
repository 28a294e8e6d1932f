// The one way text reaches a terminal: a stream buffer laid over standard output and standard
// error that shows every control character written through it as shown_text does ("\033"),
// whichever command wrote it and whatever it held (a file's path, a line of a load file, a
// table's value, a group's name). Only the line end passes as it is. A front end's own controls
// (the carriage return that redraws a progress line) go past it through write_controls.
//
// Reports and the log have their funnels of their own (xp_put_field, x_log); the stored bytes
// of data files, reject files and table files never pass here.
#pragma once

#include <iosfwd>
#include <streambuf>
#include <string>
#include <string_view>

namespace dz::ui {

class ShownStreamBuf : public std::streambuf {
  public:
    explicit ShownStreamBuf(std::streambuf* target) : target_(target) {}
    ~ShownStreamBuf() override;
    ShownStreamBuf(const ShownStreamBuf&) = delete;
    ShownStreamBuf& operator=(const ShownStreamBuf&) = delete;

    // Writes `bytes` as they are, controls included.
    void write_controls(std::string_view bytes);
    std::streambuf* target() const { return target_; }

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

  private:
    bool pass(std::string_view bytes);
    // Writes what is held as it is shown when nothing more of it comes.
    bool release();
    std::streambuf* target_;
    // The start of a UTF-8 character that one write ended inside (0xC2 alone, E2 80): whether
    // it is a character, a C1 control or lone bytes to show is told by the next write.
    std::string held_;
};

// Lays a ShownStreamBuf over std::cout, std::cerr and std::clog for as long as it lives.
class ShownStandardStreams {
  public:
    ShownStandardStreams();
    ~ShownStandardStreams();
    ShownStandardStreams(const ShownStandardStreams&) = delete;
    ShownStandardStreams& operator=(const ShownStandardStreams&) = delete;

  private:
    ShownStreamBuf out_, err_, log_;
};

// Writes `controls` to `out` as they are: past its ShownStreamBuf when it has one.
void write_controls(std::ostream& out, std::string_view controls);

}  // namespace dz::ui
