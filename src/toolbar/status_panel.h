// The toolbar's status field: a panel with a lowered inner bevel, filled with the colour
// of its palette's window role, painted by itself so that every desktop style shows the
// colour and the painting stays cheap while a run updates the text many times a second.
#pragma once

#include <QFrame>

namespace fetchora {

class TStatusPanel final : public QFrame {
public:
    explicit TStatusPanel(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace fetchora
