#pragma once
// Before a file is written over: a read-only one is refused in a message
// box ("Output Error"), and an existing one is only replaced when the user
// answers Yes to the question box (No is the default and the escape).

#include <QString>

class QWidget;

// True when the file may be written: it does not exist yet, or it may and
// the user said Yes. questionTitle captions the question box.
bool mayOverwrite(QWidget* parent, const QString& fileName, const QString& questionTitle);
