// The button images of the toolbar, drawn with QPainter at 32 pixels and shown at 16.
#include "toolbar/image_list.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>
#include <functional>

namespace fetchora {

namespace {

constexpr int kSize = 32; // drawn large, shown at 16 pixels; scales cleanly on dense screens

QIcon paint(const std::function<void(QPainter&)>& draw) {
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    p.end();
    return QIcon(pixmap);
}

// A sheet of paper with a downward arrow: pick files from the page.
void drawSelectFiles(QPainter& p) {
    p.setPen(QPen(QColor(70, 70, 70), 2));
    p.setBrush(QColor(250, 250, 245));
    p.drawRect(5, 3, 18, 24);
    p.setPen(QPen(QColor(150, 150, 150), 2));
    for (int y = 9; y <= 21; y += 4)
        p.drawLine(9, y, 19, y);
    QPainterPath arrow;
    arrow.moveTo(21, 14);
    arrow.lineTo(29, 14);
    arrow.lineTo(29, 21);
    arrow.lineTo(31, 21);
    arrow.lineTo(25, 29);
    arrow.lineTo(19, 21);
    arrow.lineTo(21, 21);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(20, 90, 20), 1.5));
    p.setBrush(QColor(60, 170, 60));
    p.drawPath(arrow);
}

void drawStart(QPainter& p) {
    QPainterPath triangle;
    triangle.moveTo(8, 4);
    triangle.lineTo(27, 16);
    triangle.lineTo(8, 28);
    triangle.closeSubpath();
    p.setPen(QPen(QColor(20, 100, 20), 2));
    p.setBrush(QColor(70, 180, 70));
    p.drawPath(triangle);
}

void drawStop(QPainter& p) {
    p.setPen(QPen(QColor(130, 20, 20), 2));
    p.setBrush(QColor(210, 60, 50));
    p.drawRoundedRect(6, 6, 20, 20, 3, 3);
}

// A cog wheel.
void drawSettings(QPainter& p) {
    const QPointF centre(16, 16);
    QPainterPath cog;
    const int teeth = 8;
    for (int i = 0; i < teeth * 2; ++i) {
        const double angle = M_PI * i / teeth;
        const double radius = (i % 2 == 0) ? 14.0 : 10.5;
        const QPointF point(centre.x() + radius * std::cos(angle),
                            centre.y() + radius * std::sin(angle));
        if (i == 0)
            cog.moveTo(point);
        else
            cog.lineTo(point);
    }
    cog.closeSubpath();
    cog.addEllipse(centre, 4.5, 4.5);
    cog.setFillRule(Qt::OddEvenFill);
    p.setPen(QPen(QColor(60, 60, 80), 1.5));
    p.setBrush(QColor(140, 150, 175));
    p.drawPath(cog);
}

void drawHelp(QPainter& p) {
    p.setPen(QPen(QColor(20, 60, 140), 2));
    p.setBrush(QColor(70, 120, 210));
    p.drawEllipse(3, 3, 26, 26);
    // The question mark in strokes: a font of its own would cost every window the
    // loading of a bold face.
    p.setPen(QPen(Qt::white, 3.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const QRectF bow(11, 7, 10, 9);
    QPainterPath hook;
    hook.arcMoveTo(bow, 160);
    hook.arcTo(bow, 160, -230);
    hook.lineTo(16, 19.5);
    p.drawPath(hook);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(QPointF(16, 24), 2.1, 2.1);
}

} // namespace

TImageList::TImageList() {
    for (int i = 0; i < Count; ++i)
        icons_.append(QIcon());
    icons_[Settings] = paint(drawSettings);
    icons_[Start] = paint(drawStart);
    icons_[Stop] = paint(drawStop);
    icons_[Help] = paint(drawHelp);
    icons_[SelectFiles] = paint(drawSelectFiles);
}

QIcon TImageList::icon(int index) const {
    if (index < 0 || index >= count())
        return QIcon();
    return icons_[index];
}

} // namespace fetchora
