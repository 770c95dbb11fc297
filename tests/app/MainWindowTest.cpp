// The main window: a file that cannot be read is reported in a message box
// naming it and the reader's reason, and the hierarchy in view stays.

#include "TestFiles.h"
#include "VGLWidget.h"
#include "VHVApp.h"

#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {
// Closes the next message box and returns its text through `text`.
void answerNextMessageBox(QString& text) {
    auto* poll = new QTimer;
    QObject::connect(poll, &QTimer::timeout, [poll, &text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        text = box->text();
        box->close();
        poll->deleteLater();
    });
    poll->start(20);
}

TEST(MainWindow, ACorruptFileIsReportedAndTheOpenHierarchyStays) {
    // Opening builds side files beside the hierarchy: work on copies.
    std::vector<uint8_t> bytes = readBytes(testDataPath("icosphere2.mvh"));
    ASSERT_GT(bytes.size(), 64u);
    const std::string good = tempPath("icosphere2.mvh");
    writeBytes(good, bytes);
    bytes.resize(bytes.size() / 2);
    const std::string corrupt = tempPath("half-a-hierarchy.mvh");
    writeBytes(corrupt, bytes);

    VHVApp window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_TRUE(window.openFile(QString::fromStdString(good)));
    ASSERT_TRUE(window.view()->hasObject());

    QString message;
    answerNextMessageBox(message);
    EXPECT_FALSE(window.openFile(QString::fromStdString(corrupt)));
    EXPECT_TRUE(message.contains(QString::fromStdString(corrupt))) << message.toStdString();
    EXPECT_GT(message.section('\n', 1).trimmed().size(), 0) << "no reason given: " << message.toStdString();
    EXPECT_TRUE(window.view()->hasObject());
    EXPECT_EQ(window.fileName(), QString::fromStdString(good));
    window.grab().save(QString::fromStdString(tempPath("main-window.png")));
}
} // namespace
