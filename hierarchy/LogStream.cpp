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
