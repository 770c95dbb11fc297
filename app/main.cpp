// morva-viewer [FILE.mvh]: the desktop viewer. Opens the hierarchy given on
// the command line and shows it.

#include "VGLWidget.h"

#include <QApplication>
#include <QMessageBox>
#include <QSurfaceFormat>

int main(int argc, char** argv) {
    QSurfaceFormat::setDefaultFormat(VGLWidget::surfaceFormat());
    QApplication app(argc, argv);
    VGLWidget view;
    view.setWindowTitle("morva viewer");
    view.resize(800, 800);
    view.show();
    if (argc > 1) {
        std::string error;
        if (!view.openHierarchy(argv[1], error))
            QMessageBox::warning(&view, "morva viewer", QString("Cannot open %1:\n%2").arg(argv[1], QString::fromStdString(error)));
    }
    return app.exec();
}
