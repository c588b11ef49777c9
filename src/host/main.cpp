// The fetchora program: a window that holds the toolbar window, so that a user sees the
// toolbar and its status.
#include "platform/qt/desktop.h"
#include "toolbar/fetchora_form.h"

#include <QApplication>
#include <QMainWindow>
#include <QVBoxLayout>

#include <cstdio>
#include <cstdlib>

namespace {

bool hasDisplay() {
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform != nullptr && *platform != '\0')
        return true;
    const char* x11 = std::getenv("DISPLAY");
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    return (x11 != nullptr && *x11 != '\0') || (wayland != nullptr && *wayland != '\0');
}

} // namespace

int main(int argc, char** argv) {
    if (!hasDisplay()) {
        std::fprintf(stderr,
                     "fetchora: no graphical display (DISPLAY and WAYLAND_DISPLAY are not set); "
                     "start it on a desktop or with xvfb-run.\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Fetchora"));
    fetchora::ui::installDesktopUi();

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Fetchora"));
    auto* toolbar = new fetchora::TFetchoraForm(&window);
    toolbar->setWindowFlags(Qt::Widget);
    window.setCentralWidget(toolbar);
    window.resize(toolbar->size());
    window.show();
    return app.exec();
}
