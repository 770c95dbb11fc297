#include "OverwriteQuestion.h"

#include <QFileInfo>
#include <QMessageBox>

namespace {
// No write permission for anyone counts even for the superuser, as the
// pipeline counts it.
bool isReadOnly(const QFileInfo& file) {
    const auto writeBits = QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther;
    return !(file.permissions() & writeBits) || !file.isWritable();
}
} // namespace

bool mayOverwrite(QWidget* parent, const QString& fileName, const QString& questionTitle) {
    const QFileInfo file(fileName);
    if (fileName.isEmpty() || !file.exists()) return true;
    if (isReadOnly(file)) {
        QMessageBox::critical(parent, QMessageBox::tr("Output Error"), fileName + " " + QMessageBox::tr("is read-only!"));
        return false;
    }
    const auto answer = QMessageBox::question(parent, questionTitle,
                                              fileName + " " + QMessageBox::tr("already exists.\nDo you want to replace it?"),
                                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return answer == QMessageBox::Yes;
}
