// The toolbar's status field and its text: a panel with a lowered inner bevel, filled with the
// colour of its palette's window role, painted by itself so that every desktop style shows the
// colour and the painting stays cheap while a run updates the text many times a second.
#pragma once

#include <QFrame>
#include <QString>

class QTimer;

namespace fetchora {

class TStatusPanel final : public QFrame {
public:
    explicit TStatusPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

// The status text inside the panel. Its text changes at once; painting follows at most
// every few hundredths of a second, so a run that changes the text for every block of
// every file paints only as often as anyone can read it.
class TStatusLabel final : public QWidget {
public:
    explicit TStatusLabel(QString text, QWidget* parent = nullptr);

    const QString& text() const { return text_; }
    void setText(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString text_;
    QTimer* paintTimer_;
    qint64 lastPaint_ = 0;
};

} // namespace fetchora
