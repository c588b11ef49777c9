// What the queue's dialogs share in their look: the form fonts with their fall-backs,
// the window flags of a fixed dialog border without border icons, and the creation of a
// component with its objectName.
#pragma once

#include <QFont>
#include <QFontDatabase>
#include <QString>
#include <QWidget>

namespace fetchora::forms {

// family at the pixel height, or the desktop's font of the kind fallback at the same
// height when family is not installed.
inline QFont fontOrFallback(const QString& family, QFontDatabase::SystemFont fallback,
                            int pixelHeight) {
    QFont font =
        QFontDatabase::hasFamily(family) ? QFont(family) : QFontDatabase::systemFont(fallback);
    font.setPixelSize(pixelHeight);
    return font;
}

// Tahoma, else the desktop's sans-serif.
inline QFont tahoma(int pixelHeight) {
    return fontOrFallback(QStringLiteral("Tahoma"), QFontDatabase::GeneralFont, pixelHeight);
}

// Courier New, else the desktop's fixed-pitch font.
inline QFont courierNew(int pixelHeight) {
    return fontOrFallback(QStringLiteral("Courier New"), QFontDatabase::FixedFont, pixelHeight);
}

// A dialog border with a title and no border icons (no close or system-menu button).
inline Qt::WindowFlags dialogWithoutBorderIcons() {
    return Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint;
}

// A child component of parent named name, placed at x, y with the size w × h.
template <typename Widget>
Widget* component(QWidget* parent, const char* name, int x, int y, int w, int h) {
    auto* widget = new Widget(parent);
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

} // namespace fetchora::forms
