#pragma once
// Keeps the library's progress lines out of a timed region: printing them
// would time the terminal instead of the code.

#include "LogStream.h"

#include <ostream>
#include <streambuf>

class SilencedLog {
  public:
    SilencedLog() : mStream(&mBuffer) {
        setLogOut(&mStream);
        setLogErr(&mStream);
    }
    ~SilencedLog() {
        setLogOut(nullptr);
        setLogErr(nullptr);
    }
    SilencedLog(const SilencedLog&) = delete;
    SilencedLog& operator=(const SilencedLog&) = delete;

  private:
    class DiscardBuffer : public std::streambuf {
      protected:
        int_type overflow(int_type c) override { return traits_type::not_eof(c); }
        std::streamsize xsputn(const char*, std::streamsize n) override { return n; }
    };
    DiscardBuffer mBuffer;
    std::ostream mStream;
};
