// morva-viewer [FILE.mvh | SCENE.scn]: the desktop viewer. Opens the main window and,
// when a file is given, the hierarchy or scene in it.

#include "QuantizedNormal.h"
#include "VGLWidget.h"
#include "VHVApp.h"

#include <QApplication>
#include <QLocale>
#include <QSurfaceFormat>
#include <QTranslator>

#include <iostream>

int main(int argc, char** argv) {
    initTetrahederLookupTableRec();
    std::cout << "set full-screen antialiasing to "
              << "1" << std::endl;
    VGLWidget::prepareApplication();
    QApplication app(argc, argv);

    // Texts stay untranslated when there is no file for this locale.
    QTranslator translator;
    if (translator.load("vhv." + QLocale::system().name(), ".")) QApplication::installTranslator(&translator);

    // The OpenGL configuration is read by the view in its own context once
    // the window is shown.
    VHVApp window;
    window.show();
    if (argc > 1) window.openFile(QString::fromLocal8Bit(argv[1]));
    return app.exec();
}
