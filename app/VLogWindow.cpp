#include "VLogWindow.h"

#include <QMetaObject>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QThread>
#include <QVBoxLayout>

VLogWindow::VLogWindow(QWidget* parent) : QMainWindow(parent) {
    setWindowTitle(tr("Log"));
    auto* box = new QWidget(this);
    auto* layout = new QVBoxLayout(box);
    mText = new QPlainTextEdit(box);
    mText->setObjectName("log widget");
    mText->setReadOnly(true);
    mText->setAcceptDrops(false); // a dropped file goes to the window, which opens it
    mText->setMaximumBlockCount(kMaxLines);
    mText->setLineWrapMode(QPlainTextEdit::NoWrap); // paragraphs are already cut to width
    mClear = new QPushButton(tr("clear"), box);
    mClear->setObjectName("clear button");
    layout->addWidget(mText);
    layout->addWidget(mClear);
    setCentralWidget(box);
    connect(mClear, &QPushButton::clicked, this, &VLogWindow::clear);
    resize(760, 400);
}

void VLogWindow::appendParagraph(const QString& paragraph) {
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(
            this, [this, paragraph] { appendParagraph(paragraph); }, Qt::QueuedConnection);
        return;
    }
    mText->appendPlainText(paragraph);
}

// An empty text box still holds one empty block: that is no line.
int VLogWindow::lineCount() const {
    return mText->document()->isEmpty() ? 0 : mText->document()->blockCount();
}

QString VLogWindow::line(int index) const {
    return mText->document()->findBlockByNumber(index).text();
}

void VLogWindow::clear() {
    mText->clear();
}
