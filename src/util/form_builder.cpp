// setUpForm: the frame, font, size and placement of a form.
#include "util/form_builder.h"

#include "util/form_style.h"

#include <QGuiApplication>
#include <QScreen>

namespace fetchora::forms {

namespace {

Qt::WindowFlags flagsOf(const QWidget& form, Border border, Stacking stacking) {
    Qt::WindowFlags flags;
    switch (border) {
    case Border::DialogWithoutIcons:
        flags = dialogWithoutBorderIcons();
        break;
    case Border::Sizeable:
        flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint;
        break;
    case Border::None:
        flags = form.windowFlags() | Qt::FramelessWindowHint;
        break;
    }
    if (stacking == Stacking::StaysOnTop)
        flags |= Qt::WindowStaysOnTopHint;
    return flags;
}

} // namespace

void setUpForm(QWidget& form, const char* name, const char* caption, QSize clientSize,
               Border border, Placement placement, Stacking stacking, int fontPixels) {
    form.setObjectName(QString::fromLatin1(name));
    form.setWindowTitle(QString::fromUtf8(caption));
    form.setWindowFlags(flagsOf(form, border, stacking));
    form.setFont(tahoma(fontPixels));
    if (border == Border::DialogWithoutIcons)
        form.setFixedSize(clientSize);
    else
        form.resize(clientSize);
    // A form with an owner is centred on it when shown; one centred on the desktop is
    // placed here, whatever window is active.
    if (placement == Placement::OnDesktop) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->availableGeometry();
            form.move(area.center() - QPoint(clientSize.width() / 2, clientSize.height() / 2));
        }
    }
}

} // namespace fetchora::forms
