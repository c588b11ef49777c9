// The toolbar's button images, drawn by the program itself: an indexed list of icons in
// the order the buttons refer to them.
#pragma once

#include <QIcon>
#include <QList>

namespace fetchora {

class TImageList final {
public:
    // Image indices the toolbar's buttons use.
    enum Index { Settings = 4, Start = 5, Stop = 6, Help = 7, SelectFiles = 8, Count = 9 };

    TImageList();
    QIcon icon(int index) const;
    int count() const { return static_cast<int>(icons_.size()); }

private:
    QList<QIcon> icons_;
};

} // namespace fetchora
