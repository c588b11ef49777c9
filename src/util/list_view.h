// Helpers for the report-style list views with check boxes that the forms use (a
// QTreeWidget whose rows are checkable). The helpers that change check marks block the
// view's change signals while they work, so the form's change handler does not run once
// per row.
#pragma once

#include <QStringList>

#include <string>

class QEvent;
class QObject;
class QTreeWidget;
class QWidget;

namespace fetchora {

// True when a row is selected; otherwise shows message with showInformation.
bool requireSelection(QTreeWidget* view, const std::string& message);
void setAllChecks(QTreeWidget* view, bool checked);
// Rows index, index-1, ..., 0; index -1 changes nothing.
void setChecksUpTo(QTreeWidget* view, int index, bool checked);
// Rows index ... last.
void setChecksFrom(QTreeWidget* view, int index, bool checked);
// Rows whose first column equals caption without regard to case.
void setChecksByCaption(QTreeWidget* view, const std::string& caption, bool checked);
int countChecked(QTreeWidget* view);
// The report-style list view of the dialogs, named name: the columns' headings, no tree
// decoration, one whole row selected at a time, not editable in place (nothing typed there
// would reach the data behind it); rowMenuFilter watches its viewport for the right click
// that opens the row menu (see selectRowOnRightClick).
QTreeWidget* makeReportView(QWidget* parent, const char* name, const QStringList& columns,
                            QObject* rowMenuFilter);
// For an event filter on the view's viewport: true when event is a right-button press on
// it, after making the row under the cursor the selected one, as a left click would, so
// that a row menu acts on the row it was opened on.
bool selectRowOnRightClick(QTreeWidget* view, QObject* watched, QEvent* event);
// Each column as wide as its widest text (heading or cell) in the view's font, plus 40.
void fitColumns(QTreeWidget* view);

} // namespace fetchora
