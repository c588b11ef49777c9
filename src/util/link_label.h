// Widgets the forms share: a link-styled label that reports clicks (blue, underlined,
// hand cursor) and the white header panel across the top of a dialog.
#pragma once

#include <QLabel>
#include <QWidget>

namespace fetchora {

class TLinkLabel final : public QLabel {
    Q_OBJECT

public:
    explicit TLinkLabel(const QString& caption, QWidget* parent = nullptr);

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A white panel with an image at the left (the desktop's folder icon unless a picture is
// given), a bold title and a line of text that wraps.
class THeaderPanel final : public QWidget {
public:
    THeaderPanel(const QString& title, const QString& text, QWidget* parent = nullptr);
    // Replaces the image at the left.
    void setPicture(const QPixmap& picture);

private:
    QLabel* image_ = nullptr;
};

} // namespace fetchora
