// The link-styled label and the white header panel of the dialogs.
#include "util/link_label.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPainter>
#include <QPalette>
#include <QStyle>
#include <QVBoxLayout>

namespace fetchora {

TLinkLabel::TLinkLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    QFont f = font();
    f.setUnderline(true);
    setFont(f);
    QPalette p = palette();
    p.setColor(QPalette::WindowText, Qt::blue);
    setPalette(p);
    setCursor(Qt::PointingHandCursor);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

THeaderPanel::THeaderPanel(const QString& title, const QString& text, QWidget* parent)
    : QWidget(parent) {
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    p.setColor(QPalette::WindowText, Qt::black);
    setPalette(p);

    image_ = new QLabel(this);
    image_->setPixmap(QApplication::style()->standardIcon(QStyle::SP_DirOpenIcon).pixmap(32, 32));
    auto* titleLabel = new QLabel(title, this);
    QFont bold = titleLabel->font();
    bold.setBold(true);
    titleLabel->setFont(bold);
    auto* textLabel = new QLabel(text, this);
    textLabel->setWordWrap(true);

    auto* texts = new QVBoxLayout;
    texts->addWidget(titleLabel);
    texts->addWidget(textLabel);
    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 8, 12, 8);
    row->addWidget(image_, 0, Qt::AlignTop);
    row->addLayout(texts, 1);
}

void THeaderPanel::setPicture(const QPixmap& picture) {
    image_->setPixmap(picture);
}

} // namespace fetchora
