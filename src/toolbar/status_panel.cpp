// The toolbar's status field: the panel with its lowered bevel and the status text that
// paints itself at most every few hundredths of a second.
#include "toolbar/status_panel.h"

#include <QDateTime>
#include <QPainter>
#include <QTimer>

#include <utility>

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

namespace {

// The shortest time between two paintings of a changing status text.
constexpr qint64 kPaintInterval = 40;

} // namespace

TStatusLabel::TStatusLabel(QString text, QWidget* parent)
    : QWidget(parent), text_(std::move(text)), paintTimer_(new QTimer(this)) {
    paintTimer_->setSingleShot(true);
    connect(paintTimer_, &QTimer::timeout, this, [this] { update(); });
}

void TStatusLabel::setText(const QString& text) {
    if (text == text_)
        return;
    text_ = text;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    const qint64 wait = lastPaint_ + kPaintInterval - now;
    if (wait <= 0)
        update();
    else if (!paintTimer_->isActive())
        paintTimer_->start(static_cast<int>(wait));
}

void TStatusLabel::paintEvent(QPaintEvent*) {
    lastPaint_ = QDateTime::currentMSecsSinceEpoch();
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(rect(), Qt::AlignLeft | Qt::AlignVCenter, text_);
}

} // namespace fetchora
