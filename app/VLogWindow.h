#pragma once
// The log window: what the program writes to its log stream, newest line
// last, at most 5000 lines (the oldest go first), and a "clear" button.

#include <QMainWindow>

class QPlainTextEdit;
class QPushButton;

class VLogWindow : public QMainWindow {
    Q_OBJECT
  public:
    static constexpr int kMaxLines = 5000;
    explicit VLogWindow(QWidget* parent = nullptr);

    // Callable from any thread: a line from another thread (the texture
    // loader's) is queued to the GUI thread, where alone the text box may
    // be touched.
    void appendParagraph(const QString& paragraph);
    int lineCount() const;
    QString line(int index) const;

  public slots:
    void clear();

  private:
    QPlainTextEdit* mText;
    QPushButton* mClear;
};
