// What the forms share in their look: the form fonts with their fall-backs and the
// window flags of a fixed dialog border without border icons.
#pragma once

#include <QFont>
#include <QFontDatabase>
#include <QString>

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

} // namespace fetchora::forms
