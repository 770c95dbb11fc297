#include "VLogStream.h"

#include <cstring>
#include <iostream>

namespace {
bool isContinuationByte(char c) {
    return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Bytes of the character a lead byte starts; 1 for ASCII and for bytes that
// start no character, so that malformed text still moves on.
size_t characterLength(char lead) {
    const auto b = static_cast<unsigned char>(lead);
    if ((b & 0xE0) == 0xC0) return 2;
    if ((b & 0xF0) == 0xE0) return 3;
    if ((b & 0xF8) == 0xF0) return 4;
    return 1;
}
} // namespace

size_t paragraphLength(std::string_view text, size_t width) {
    if (text.size() < width) return text.size();
    // The last character that starts inside the width: keep it only if it
    // ends there too (its tail may not even be written yet).
    size_t last = width - 1;
    while (last > 0 && isContinuationByte(text[last]))
        --last;
    if (last + characterLength(text[last]) <= width) return width;
    return last > 0 ? last : width;
}

void VLogStreamBuf::bind(Sink sink, size_t lineWidth) {
    std::lock_guard lock(mMutex);
    mSink = std::move(sink);
    mLineWidth = lineWidth > 0 ? lineWidth : 100;
    mBuffer.clear();
    mLineHandedOn = false;
}

void VLogStreamBuf::setConsole(std::ostream* console) {
    std::lock_guard lock(mMutex);
    mConsole = console;
}

VLogStreamBuf::int_type VLogStreamBuf::overflow(int_type c) {
    if (traits_type::eq_int_type(c, traits_type::eof())) return traits_type::not_eof(c);
    const char ch = traits_type::to_char_type(c);
    std::lock_guard lock(mMutex);
    appendLocked(&ch, 1);
    return c;
}

std::streamsize VLogStreamBuf::xsputn(const char* s, std::streamsize n) {
    std::lock_guard lock(mMutex);
    appendLocked(s, size_t(n));
    return n;
}

int VLogStreamBuf::sync() {
    std::lock_guard lock(mMutex);
    if (mConsole) mConsole->flush();
    return 0;
}

void VLogStreamBuf::appendLocked(const char* s, size_t n) {
    if (mConsole) mConsole->write(s, std::streamsize(n));
    if (!mSink) return;
    for (size_t start = 0; start < n;) {
        const char* newline = static_cast<const char*>(std::memchr(s + start, '\n', n - start));
        const size_t end = newline ? size_t(newline - s) : n;
        mBuffer.append(s + start, end - start);
        emitFullParagraphsLocked();
        if (!newline) break;
        // End of line: what is left of it is one paragraph, and the console
        // shows the line now (a crash must not swallow the last lines).
        // A line of exactly full paragraphs leaves nothing; a blank line
        // still shows as one.
        if (!mBuffer.empty() || !mLineHandedOn) mSink(mBuffer);
        mBuffer.clear();
        mLineHandedOn = false;
        if (mConsole) mConsole->flush();
        start = end + 1;
    }
}

void VLogStreamBuf::emitFullParagraphsLocked() {
    size_t start = 0;
    while (mBuffer.size() - start >= mLineWidth) {
        const size_t length = paragraphLength(std::string_view(mBuffer).substr(start), mLineWidth);
        mSink(mBuffer.substr(start, length));
        start += length;
        mLineHandedOn = true;
    }
    mBuffer.erase(0, start);
}

VLogStream& VLogStream::out() {
    static VLogStream stream(&std::cout);
    return stream;
}

VLogStream& VLogStream::err() {
    static VLogStream stream(&std::cerr);
    return stream;
}
