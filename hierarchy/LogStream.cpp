#include "LogStream.h"

#include <iostream>

namespace {
std::ostream* gOut = nullptr;
std::ostream* gErr = nullptr;
} // namespace

std::ostream& logOut() { return gOut ? *gOut : std::cout; }
std::ostream& logErr() { return gErr ? *gErr : std::cerr; }
void setLogOut(std::ostream* stream) { gOut = stream; }
void setLogErr(std::ostream* stream) { gErr = stream; }

LogCapture::LogCapture() : mOut(&logOut()), mErr(&logErr()) {
    setLogOut(&mSink);
    setLogErr(&mSink);
}

LogCapture::~LogCapture() {
    setLogOut(mOut);
    setLogErr(mErr);
}

std::string lastLineOf(std::string text) {
    while (!text.empty() && text.back() == '\n') text.pop_back();
    return text.substr(text.rfind('\n') + 1);
}
