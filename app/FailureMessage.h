#pragma once
// A failure the user caused, told where the user looks: a message box with
// the reason, and the same line in the log. The box does not wait for an
// answer, so a view whose paint loop runs keeps drawing behind it.

#include <QString>

class QWidget;

void showFailure(QWidget* parent, const QString& text);
