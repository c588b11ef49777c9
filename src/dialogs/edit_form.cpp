// The queue editor: its layout, the row menu loaded from IDM_EDIT_MENU, and the three
// list changes, each committed by renumbering, saving and rereading the queue file.
#include "dialogs/edit_form.h"

#include "platform/errors.h"
#include "platform/qt/desktop.h"
#include "platform/resources/resource_table.h"
#include "platform/resources/track_popup_menu.h"
#include "platform/ui.h"
#include "queue/download_list.h"
#include "util/form_builder.h"
#include "util/library_path.h"
#include "util/list_view.h"
#include "util/strings.h"

#include <QCursor>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <unordered_set>

namespace fetchora {

namespace {

constexpr Qt::Alignment kRight = Qt::AlignRight | Qt::AlignVCenter;

} // namespace

TEditForm::TEditForm(QWidget* parent) : QDialog(parent) {
    using forms::named;
    forms::setUpForm(*this, "EditForm", "Edit File List", {477, 469}, forms::Border::Sizeable);

    Label1 = named<QLabel>(this, "Label1",
                           QStringLiteral("The following files are ready to download. "));
    FileList =
        makeReportView(this, "FileList", {QStringLiteral("URL"), QStringLiteral("Size")}, this);
    FileList->headerItem()->setTextAlignment(1, kRight);
    Label3 = named<QLabel>(this, "Label3", QStringLiteral("Right-click for options"));
    Button1 = named<QPushButton>(this, "Button1", QStringLiteral("Close"));
    Button1->setDefault(true);

    auto* bottom = new QHBoxLayout;
    bottom->addWidget(Label3, 1);
    bottom->addWidget(Button1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 8);
    layout->addWidget(Label1);
    layout->addWidget(FileList, 1);
    layout->addLayout(bottom);

    connect(Button1, &QPushButton::clicked, this, &QDialog::accept);
    forms::connectHandler(this, &QDialog::finished, this, &TEditForm::FormClose);
    guarded([this] { FormCreate(); });
}

TEditForm::~TEditForm() = default;

void TEditForm::FormCreate() {
    Downloads = std::make_unique<TDownloadList>();
    FillList();
}

void TEditForm::FormClose() {
    Downloads.reset();
}

bool TEditForm::eventFilter(QObject* watched, QEvent* event) {
    if (!selectRowOnRightClick(FileList, watched, event))
        return QDialog::eventFilter(watched, event);
    guarded([&] { FileListMouseDown(Qt::RightButton); });
    return true;
}

void TEditForm::FileListMouseDown(Qt::MouseButton button) {
    using namespace resources;
    if (button != Qt::RightButton)
        return;
    const UniqueMenu menu(LoadMenu(IDM_EDIT_MENU));
    if (!menu)
        throw Error("The menu resource IDM_EDIT_MENU is missing.");
    const QPoint at = QCursor::pos();
    const unsigned command = TrackPopupMenu(GetSubMenu(menu.get(), 0),
                                            TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x(), at.y(), this);
    switch (static_cast<EditMenuCommand>(command)) {
    case EditMenuCommand::View:
        ViewFileClick();
        break;
    case EditMenuCommand::CheckAll:
        setAllChecks(FileList, true);
        break;
    case EditMenuCommand::UncheckAll:
        setAllChecks(FileList, false);
        break;
    case EditMenuCommand::MoveToTop:
        Moveselectedfilestotop1Click();
        break;
    case EditMenuCommand::MoveToBottom:
        Moveselectedfilestobottom1Click();
        break;
    case EditMenuCommand::Delete:
        Deleteselectedfiles1Click();
        break;
    default: // dismissed
        break;
    }
}

void TEditForm::ViewFileClick() {
    if (!requireSelection(FileList, "Select a file."))
        return;
    const int row = FileList->indexOfTopLevelItem(FileList->selectedItems().front());
    ui::openAddress(Downloads->at(row).URL);
}

void TEditForm::Deleteselectedfiles1Click() {
    // One pass over the queue, whatever the number of checked rows; the rows are filled
    // again from the saved file.
    const std::unordered_set<const TDownload*> checked = checkedEntries();
    Downloads->removeIf([&](const TDownload& entry) { return checked.count(&entry) != 0; });
    commit();
}

void TEditForm::Moveselectedfilestotop1Click() {
    moveChecked(Placement::Top);
}

void TEditForm::Moveselectedfilestobottom1Click() {
    moveChecked(Placement::Bottom);
}

void TEditForm::moveChecked(Placement placement) {
    // Both groups keep their order, in one pass over the queue.
    const std::unordered_set<const TDownload*> checked = checkedEntries();
    const bool checkedFirst = placement == Placement::Top;
    Downloads->stablePartition(
        [&](const TDownload& entry) { return (checked.count(&entry) != 0) == checkedFirst; });
    commit();
}

std::unordered_set<const TDownload*> TEditForm::checkedEntries() const {
    std::unordered_set<const TDownload*> checked;
    for (int i = 0; i < Downloads->count(); ++i) {
        if (rowChecked(i))
            checked.insert(&Downloads->at(i));
    }
    return checked;
}

bool TEditForm::rowChecked(int row) const {
    // The rows stand for the entries one by one; after a failed read there are fewer
    // rows than entries, and a change then stops here instead of saving a cut queue.
    if (row < 0 || row >= FileList->topLevelItemCount())
        throw ListError(row);
    return FileList->topLevelItem(row)->checkState(0) == Qt::Checked;
}

void TEditForm::commit() {
    Downloads->Renumber();
    Downloads->SaveToFile(ListFile);
    FillList();
}

void TEditForm::FillList() {
    FileList->clear();
    ListFile = pathInLibraryFolder("downloads.txt");
    Downloads->LoadFromFile(ListFile);
    for (int i = 0; i < Downloads->count(); ++i) {
        const TDownload& entry = Downloads->at(i);
        auto* row = new QTreeWidgetItem(FileList);
        row->setText(0, ui::toQString(entry.URL));
        row->setText(1, ui::toQString(formatSize(entry.FileSize)));
        row->setTextAlignment(1, kRight);
        row->setCheckState(0, Qt::Unchecked);
    }
    fitColumns(FileList);
}

} // namespace fetchora
