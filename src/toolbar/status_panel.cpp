#include "toolbar/status_panel.h"

#include <QPainter>

namespace fetchora {

TStatusPanel::TStatusPanel(QWidget* parent) : QFrame(parent) {
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TStatusPanel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const QRect area = rect();
    painter.fillRect(area, palette().color(QPalette::Window));
    // Lowered inner bevel: shadow along the top and left, light along the bottom and
    // right.
    painter.setPen(QColor(128, 128, 128));
    painter.drawLine(area.topLeft(), area.topRight());
    painter.drawLine(area.topLeft(), area.bottomLeft());
    painter.setPen(Qt::white);
    painter.drawLine(area.bottomLeft(), area.bottomRight());
    painter.drawLine(area.topRight(), area.bottomRight());
}

} // namespace fetchora
