#pragma once
// Little-endian field-by-field encoding for the binary files: a writer that
// appends to a byte buffer, and a bounds-checked reader over a byte range that
// never reads past its end (it records the failure instead).

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

static_assert(sizeof(float) == 4, "files store IEEE-754 single precision floats");

class ByteWriter {
  public:
    void u8(uint8_t v) { mBytes.push_back(v); }
    void u16(uint16_t v) { append(&v, 2); }
    void u32(uint32_t v) { append(&v, 4); }
    void f32(float v) { append(&v, 4); }
    void bytes(const void* data, size_t size) { append(data, size); }

    const std::vector<uint8_t>& data() const { return mBytes; }
    size_t size() const { return mBytes.size(); }
    // Empties the buffer and keeps its memory, for a writer that passes
    // the bytes on in pieces.
    void clear() { mBytes.clear(); }

  private:
    // Assumes a little-endian host, as every platform the viewer runs on is.
    void append(const void* data, size_t size) {
        const uint8_t* p = static_cast<const uint8_t*>(data);
        mBytes.insert(mBytes.end(), p, p + size);
    }
    std::vector<uint8_t> mBytes;
};

class ByteReader {
  public:
    ByteReader(const uint8_t* data, size_t size) : mPos(data), mEnd(data + size) {}

    // Each returns false, and leaves v alone, when the data ends too early.
    bool u8(uint8_t& v) { return take(&v, 1); }
    bool u16(uint16_t& v) { return take(&v, 2); }
    bool u32(uint32_t& v) { return take(&v, 4); }
    bool f32(float& v) { return take(&v, 4); }
    bool bytes(void* out, size_t size) { return take(out, size); }

    size_t remaining() const { return size_t(mEnd - mPos); }
    // True when count records of at least minBytes each can still follow;
    // guards every allocation sized by a count from the file.
    bool canHold(uint64_t count, uint64_t minBytes) const { return count <= remaining() / minBytes; }

  private:
    bool take(void* out, size_t size) {
        if (remaining() < size) return false;
        if (size == 0) return true; // an empty array may have no address to copy to
        std::memcpy(out, mPos, size);
        mPos += size;
        return true;
    }
    const uint8_t* mPos;
    const uint8_t* mEnd;
};
