// The "Edit File List" dialog, the queue editor: the queued files as checkable rows, with
// a row menu that opens a file's address in the browser, checks or unchecks every row,
// moves the checked files to the top or the bottom of the queue, or deletes them. It
// works on its own copy of the queue read from downloads.txt and writes every change
// straight back; the toolbar windows see the changed file on their next tick.
#pragma once

#include <QDialog>

#include <memory>
#include <string>
#include <unordered_set>

class QLabel;
class QPushButton;
class QTreeWidget;

namespace fetchora {

class TDownload;
class TDownloadList;

class TEditForm final : public QDialog {
    Q_OBJECT

public:
    explicit TEditForm(QWidget* parent = nullptr);
    ~TEditForm() override;

    QLabel* Label1 = nullptr;
    QTreeWidget* FileList = nullptr;
    QLabel* Label3 = nullptr;
    QPushButton* Button1 = nullptr;

    // The editor's own copy of the queue, from FormCreate until FormClose.
    std::unique_ptr<TDownloadList> Downloads;
    // downloads.txt in the library's folder.
    std::string ListFile;

    // Handlers.
    void FormCreate();
    void FormClose();
    // Opens the row menu for the right mouse button, at the cursor.
    void FileListMouseDown(Qt::MouseButton button);
    void ViewFileClick();
    void Deleteselectedfiles1Click();
    void Moveselectedfilestotop1Click();
    void Moveselectedfilestobottom1Click();

    // Reads the queue file into Downloads and rebuilds the rows, all unchecked.
    void FillList();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Renumbers, saves and rereads the queue after a change of the list.
    void commit();
    // Moves the checked entries before the unchecked ones (top) or after them, each
    // group keeping its order.
    enum class Placement { Top, Bottom };
    void moveChecked(Placement placement);
    bool rowChecked(int row) const;
    // The entries whose rows are checked; ListError when there are fewer rows than
    // entries (after a failed read), before anything changes.
    std::unordered_set<const TDownload*> checkedEntries() const;
};

} // namespace fetchora
