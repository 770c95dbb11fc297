#pragma once
// What a scene file stores: an object writes its class-name line and its
// contents, and reads its contents back once a reader has seen the
// class-name line and made an object of that class.

#include <istream>
#include <ostream>

class VSerializable {
  public:
    virtual ~VSerializable() = default;
    virtual void write(std::ostream& out) const = 0;
    virtual void writeClassName(std::ostream& out) const = 0;
    // ok is in and out: nothing is read when it comes in false, and it turns
    // false at the first failure.
    virtual void read(std::istream& in, bool& ok) = 0;
};
