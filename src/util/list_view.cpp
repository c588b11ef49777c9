// The list-view helpers over QTreeWidget report views whose rows carry a check box in
// their first column.
#include "util/list_view.h"

#include "platform/errors.h"
#include "platform/qt/desktop.h"
#include "util/messages.h"

#include <QFontMetrics>
#include <QMouseEvent>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <algorithm>

namespace fetchora {

namespace {

Qt::CheckState stateOf(bool checked) {
    return checked ? Qt::Checked : Qt::Unchecked;
}

// Sets rows first..last (inclusive) while the view's signals are blocked: the view still
// repaints, but itemChanged does not reach the form's handler once per row.
void setRange(QTreeWidget* view, int first, int last, bool checked) {
    const QSignalBlocker blocker(view);
    for (int i = first; i <= last; ++i)
        view->topLevelItem(i)->setCheckState(0, stateOf(checked));
}

} // namespace

bool requireSelection(QTreeWidget* view, const std::string& message) {
    if (!view->selectedItems().isEmpty())
        return true;
    showInformation(message);
    return false;
}

void setAllChecks(QTreeWidget* view, bool checked) {
    setRange(view, 0, view->topLevelItemCount() - 1, checked);
}

void setChecksUpTo(QTreeWidget* view, int index, bool checked) {
    if (index < 0)
        return;
    if (index >= view->topLevelItemCount())
        throw ListError(index);
    setRange(view, 0, index, checked);
}

void setChecksFrom(QTreeWidget* view, int index, bool checked) {
    if (index < 0)
        return;
    setRange(view, index, view->topLevelItemCount() - 1, checked);
}

void setChecksByCaption(QTreeWidget* view, const std::string& caption, bool checked) {
    const QString wanted = ui::toQString(caption);
    const QSignalBlocker blocker(view);
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
        QTreeWidgetItem* item = view->topLevelItem(i);
        if (item->text(0).compare(wanted, Qt::CaseInsensitive) == 0)
            item->setCheckState(0, stateOf(checked));
    }
}

int countChecked(QTreeWidget* view) {
    int count = 0;
    for (int i = 0; i < view->topLevelItemCount(); ++i) {
        if (view->topLevelItem(i)->checkState(0) == Qt::Checked)
            ++count;
    }
    return count;
}

void fitColumns(QTreeWidget* view) {
    const QFontMetrics metrics(view->font());
    const QTreeWidgetItem* header = view->headerItem();
    for (int column = 0; column < view->columnCount(); ++column) {
        int width = header != nullptr ? metrics.horizontalAdvance(header->text(column)) : 0;
        for (int i = 0; i < view->topLevelItemCount(); ++i)
            width = std::max(width, metrics.horizontalAdvance(view->topLevelItem(i)->text(column)));
        view->setColumnWidth(column, width + 40);
    }
}

bool selectRowOnRightClick(QTreeWidget* view, QObject* watched, QEvent* event) {
    if (watched != view->viewport() || event->type() != QEvent::MouseButtonPress)
        return false;
    const auto* press = static_cast<QMouseEvent*>(event);
    if (press->button() != Qt::RightButton)
        return false;
    if (QTreeWidgetItem* row = view->itemAt(press->position().toPoint()))
        view->setCurrentItem(row);
    return true;
}

QTreeWidget* makeReportView(QWidget* parent, const char* name, const QStringList& columns,
                            QObject* rowMenuFilter) {
    auto* view = new QTreeWidget(parent);
    view->setObjectName(QString::fromLatin1(name));
    view->setRootIsDecorated(false);
    view->setUniformRowHeights(true);
    view->setSelectionMode(QAbstractItemView::SingleSelection);
    view->setSelectionBehavior(QAbstractItemView::SelectRows);
    view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    view->setHeaderLabels(columns);
    view->viewport()->installEventFilter(rowMenuFilter);
    return view;
}

} // namespace fetchora
