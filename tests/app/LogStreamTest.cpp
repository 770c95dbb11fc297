// The log stream and the log window: paragraphs of at most 100 bytes that
// never cut a UTF-8 character, the window's line limit and "clear", and
// lines written from another thread reaching the window on the GUI thread.

#include "LogStream.h"
#include "VLogStream.h"
#include "VLogWindow.h"

#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

#include <sstream>
#include <thread>
#include <vector>

namespace {
using Paragraphs = std::vector<std::string>;

std::string repeat(const std::string& s, int n) {
    std::string out;
    for (int i = 0; i < n; ++i)
        out += s;
    return out;
}

struct SplitCase {
    const char* what;
    std::vector<std::string> writes; // separate writes to the stream
    Paragraphs expected;
};

TEST(LogStream, SplitsLinesIntoParagraphsWithoutCuttingACharacter) {
    const std::string a97 = repeat("a", 97), a98 = repeat("a", 98), a99 = repeat("a", 99),
                      a100 = repeat("a", 100);
    const std::string smile = "\xF0\x9F\x98\x80"; // four bytes
    const std::vector<SplitCase> cases = {
        {"250 characters, then the end of line",
         {repeat("x", 250), "\n"},
         {repeat("x", 100), repeat("x", 100), repeat("x", 50)}},
        {"several lines in one write, a blank one among them", {"one\n\ntwo\n"}, {"one", "", "two"}},
        {"exactly one width, no empty paragraph after it", {a100 + "\n"}, {a100}},
        {"two-byte character across the width",
         {a99 + "\xC3\xA9" + "b\n"},
         {a99, "\xC3\xA9"
               "b"}},
        {"three-byte character ending on the width", {a97 + "\xE2\x82\xAC" + "\n"}, {a97 + "\xE2\x82\xAC"}},
        {"three-byte character one byte over", {a98 + "a\xE2\x82\xAC\n"}, {a99, "\xE2\x82\xAC"}},
        {"a character whose tail comes in a later write",
         {a99 + smile.substr(0, 1), smile.substr(1) + "\n"},
         {a99, smile}},
        {"only two-byte characters",
         {repeat("\xC3\xA4", 150) + "\n"},
         {repeat("\xC3\xA4", 50), repeat("\xC3\xA4", 50), repeat("\xC3\xA4", 50)}},
        {"only four-byte characters", {repeat(smile, 30) + "\n"}, {repeat(smile, 25), repeat(smile, 5)}},
    };
    for (const SplitCase& c : cases) {
        std::ostringstream console;
        VLogStream stream(&console);
        Paragraphs got;
        stream.bind([&got](const std::string& p) { got.push_back(p); });
        std::string written;
        for (const std::string& w : c.writes) {
            stream << w;
            written += w;
        }
        EXPECT_EQ(got, c.expected) << c.what;
        EXPECT_EQ(console.str(), written) << c.what << ": the console echoes everything";
    }
}

TEST(LogStream, HoldsBackAnUnfinishedLineButHandsOnFullParagraphs) {
    VLogStream stream(nullptr);
    Paragraphs got;
    stream.bind([&got](const std::string& p) { got.push_back(p); });
    stream << repeat("y", 250);
    EXPECT_EQ(got.size(), 2u);
    stream << std::endl;
    ASSERT_EQ(got.size(), 3u);
    EXPECT_EQ(got[2], repeat("y", 50));
}

TEST(LogWindow, KeepsTheNewest5000LinesAndClearEmptiesIt) {
    VLogWindow window;
    window.show();
    for (int i = 0; i < VLogWindow::kMaxLines + 100; ++i)
        window.appendParagraph(QString("line %1").arg(i));
    ASSERT_EQ(window.lineCount(), VLogWindow::kMaxLines);
    EXPECT_EQ(window.line(0), "line 100");
    EXPECT_EQ(window.line(VLogWindow::kMaxLines - 1), QString("line %1").arg(VLogWindow::kMaxLines + 99));

    auto* clear = window.findChild<QPushButton*>("clear button");
    ASSERT_NE(clear, nullptr);
    QTest::mouseClick(clear, Qt::LeftButton);
    EXPECT_EQ(window.lineCount(), 0);
}

TEST(LogWindow, LinesFromAnotherThreadArriveOnTheGuiThread) {
    VLogWindow window;
    VLogStream stream(nullptr);
    stream.bind([&window](const std::string& p) { window.appendParagraph(QString::fromStdString(p)); });
    std::ostream* previous = &logOut();
    setLogOut(&stream);
    std::thread loader([] {
        for (int i = 0; i < 3; ++i)
            logOut() << "texture " << i << " loaded\n";
    });
    loader.join();
    setLogOut(previous);
    // Queued, not written into the text box from the loader thread.
    EXPECT_EQ(window.lineCount(), 0);
    EXPECT_TRUE(QTest::qWaitFor([&window] { return window.lineCount() == 3; }, 2000));
    EXPECT_EQ(window.line(2), "texture 2 loaded");
    stream.unbind();
}
} // namespace
