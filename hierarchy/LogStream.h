#pragma once
// Where the hierarchy code writes its progress lines and its error messages.
// Standard output and standard error unless the program redirects them (the
// GUI echoes them into its log window; tests capture them).

#include <ostream>
#include <sstream>
#include <string>

std::ostream& logOut();
std::ostream& logErr();

// Pass nullptr to return to the standard stream. The streams must outlive
// their use; nothing here takes ownership.
void setLogOut(std::ostream* stream);
void setLogErr(std::ostream* stream);

// Collects both streams' lines for as long as it lives, then sends them back
// to wherever they went before (a test's capture, the GUI's log): progress
// lines of a step that are not the caller's output.
class LogCapture {
  public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;
    std::string text() const { return mSink.str(); }

  private:
    std::ostream *mOut, *mErr;
    std::ostringstream mSink;
};

// The last non-empty line of text: the reason a step gave up.
std::string lastLineOf(std::string text);
