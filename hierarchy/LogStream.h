#pragma once
// Where the hierarchy code writes its progress lines and its error messages.
// Standard output and standard error unless the program redirects them (the
// GUI echoes them into its log window; tests capture them).

#include <ostream>

std::ostream& logOut();
std::ostream& logErr();

// Pass nullptr to return to the standard stream. The streams must outlive
// their use; nothing here takes ownership.
void setLogOut(std::ostream* stream);
void setLogErr(std::ostream* stream);
