#pragma once
// The log stream: an ostream that echoes everything to a console stream and,
// once a log window is bound, hands the text on in paragraphs of at most one
// line width (100 characters). A paragraph ends at a newline or when the
// line width is full; a multi-byte UTF-8 character is never cut in two, and
// a line of exactly full paragraphs adds no empty one at its end.
// Safe to write from several threads: the buffer is guarded, and the bound
// sink decides how to reach the GUI thread.

#include <functional>
#include <mutex>
#include <ostream>
#include <streambuf>
#include <string>
#include <string_view>

// How many leading bytes of text make the next paragraph: all of text when
// it is shorter than width, else width bytes less a UTF-8 character that
// does not fit whole (or is not complete yet). Never zero for non-empty text.
size_t paragraphLength(std::string_view text, size_t width);

class VLogStreamBuf : public std::streambuf {
  public:
    using Sink = std::function<void(const std::string& paragraph)>;
    explicit VLogStreamBuf(std::ostream* console) : mConsole(console) {}

    // An empty sink unbinds; the buffered rest of a line is dropped.
    void bind(Sink sink, size_t lineWidth = 100);
    void setConsole(std::ostream* console);

  protected:
    int_type overflow(int_type c) override;
    std::streamsize xsputn(const char* s, std::streamsize n) override;
    int sync() override;

  private:
    void appendLocked(const char* s, size_t n);
    void emitFullParagraphsLocked();

    std::mutex mMutex;
    std::ostream* mConsole; // nullptr: no echo
    Sink mSink;
    size_t mLineWidth = 100;
    std::string mBuffer;        // text of the current line not yet handed on
    bool mLineHandedOn = false; // part of the current line went out already
};

class VLogStream : public std::ostream {
  public:
    explicit VLogStream(std::ostream* console) : std::ostream(&mBuf), mBuf(console) {}
    void bind(VLogStreamBuf::Sink sink, size_t lineWidth = 100) { mBuf.bind(std::move(sink), lineWidth); }
    void unbind() { mBuf.bind({}); }
    void setConsole(std::ostream* console) { mBuf.setConsole(console); }

    // The two process-wide streams: echo to standard output and standard error.
    static VLogStream& out();
    static VLogStream& err();

  private:
    VLogStreamBuf mBuf;
};
