#include "FailureMessage.h"

#include "LogStream.h"

#include <QMessageBox>

void showFailure(QWidget* parent, const QString& text) {
    logErr() << text.toStdString() << "\n";
    auto* box = new QMessageBox(QMessageBox::Warning, QMessageBox::tr("Morva Viewer"), text, QMessageBox::Ok, parent);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setObjectName("failure message");
    box->show();
}
