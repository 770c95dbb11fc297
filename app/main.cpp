// morva-viewer [--grab OUT.png] [FILE.mvh | SCENE.scn]: the desktop viewer.
// Opens the main window and, when a file is given, the hierarchy or scene in
// it. --grab saves a picture of the output window once the view has drawn
// for a few seconds with its frame rate shown, and quits: for the README's
// pictures and for bug reports.

#include "QuantizedNormal.h"
#include "VGLWidget.h"
#include "VHVApp.h"
#include "VOutputWidget.h"

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QLocale>
#include <QSurfaceFormat>
#include <QTimer>
#include <QTranslator>

#include <iostream>

namespace {
constexpr int kGrabAfterMs = 3000;

// Turns the paint loop on (the status line needs a measured rate), then
// saves the picture and quits with 0, or 1 when it cannot be written.
void grabLater(VHVApp& window, const QString& file) {
    for (QAction* action : window.outputWindow()->toolActions())
        if (action->iconText() == "Paint Loop") action->setChecked(true);
    QTimer::singleShot(kGrabAfterMs, &window, [&window, file] {
        const bool saved = window.outputWindow()->picture().save(file);
        if (!saved) std::cerr << "morva-viewer: cannot write " << file.toStdString() << "\n";
        QApplication::exit(saved ? 0 : 1);
    });
}
} // namespace

int main(int argc, char** argv) {
    initTetrahederLookupTableRec();
    std::cout << "set full-screen antialiasing to "
              << "1" << std::endl;
    VGLWidget::prepareApplication();
    QApplication app(argc, argv);

    // Texts stay untranslated when there is no file for this locale.
    QTranslator translator;
    if (translator.load("vhv." + QLocale::system().name(), ".")) QApplication::installTranslator(&translator);

    QStringList args = QApplication::arguments().mid(1);
    QString grabFile;
    if (args.size() >= 2 && args.front() == "--grab") {
        grabFile = args[1];
        args = args.mid(2);
    }
    // The OpenGL configuration is read by the view in its own context once
    // the window is shown.
    VHVApp window;
    window.show();
    if (!args.isEmpty() && !window.openFile(args.front()) && !grabFile.isEmpty()) return 1;
    if (!grabFile.isEmpty()) grabLater(window, grabFile);
    return app.exec();
}
