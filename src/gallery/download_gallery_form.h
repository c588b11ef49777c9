// The "Download Gallery" dialog: every link and image of a page as a checkable row, a
// filter by kind and text with its history, a row menu that checks rows in groups, Search
// that loads the checked link pages in place of the rows, and Add that probes the checked
// files and appends them to the toolbar's queue.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

namespace fetchora {

class TDownloadList;
class THttpClient;
class THyperLink;
class THyperLinkList;
class TLinkLabel;
class TPageScanner;

class TDownloadGalleryForm final : public QDialog {
    Q_OBJECT

public:
    // queue is the toolbar's queue; the dialog appends to it and never owns it.
    explicit TDownloadGalleryForm(TDownloadList& queue, QWidget* parent = nullptr);
    ~TDownloadGalleryForm() override;

    QWidget* HeaderPanel = nullptr;
    QComboBox* ShowCB = nullptr;
    QComboBox* WhereCB = nullptr;
    QComboBox* ContainsCB = nullptr;
    QPushButton* FilterBtn = nullptr;
    TLinkLabel* ResetBtn = nullptr;
    TLinkLabel* Label4 = nullptr;
    QLabel* CountLabel = nullptr;
    QTreeWidget* FileList = nullptr;
    QLabel* Label9 = nullptr;
    QPushButton* ScanBtn = nullptr;
    QPushButton* AddBtn = nullptr;
    QPushButton* BitBtn3 = nullptr;
    std::unique_ptr<THttpClient> HttpClient1;

    // The page scan with its PageURL and PageText, fetching through HttpClient1.
    std::unique_ptr<TPageScanner> Scanner;
    // Every entry found, whether or not a row shows it.
    std::unique_ptr<THyperLinkList> Links;
    TDownloadList* Queue;

    // Loads url, applies the filter and shows the dialog modally; true when it closed
    // with Close.
    bool SelectFiles(const std::string& url);
    // Fetches url into PageText and scans it into list; an error is shown, not raised.
    void LoadPage(THyperLinkList& list, const std::string& url);
    void UpdateCount();
    bool LinkPassesFilter(const THyperLink& entry) const;
    void SaveHistory();

    // Handlers.
    void FormCreate();
    void FormShow();
    void FilterBtnClick();
    void ResetBtnClick();
    void Label4Click();
    void ScanBtnClick();
    void AddBtnClick();
    void FileListChange();
    void FileListMouseDown(Qt::MouseButton button);
    void Viewlink1Click();
    void Copylinktoclipboard1Click();

    // True while Search or Add runs; the other commands are ignored meanwhile.
    bool busy() const { return busy_; }
    // The entry a row stands for.
    THyperLink& rowLink(int row) const;

    // Escape or the close box while Search or Add runs is ignored.
    void reject() override;

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    class BusyScope;
    // Replaces the rows with one checked row for every entry that passes (all of them
    // when filtered is false), with the change handler detached and painting off.
    enum class Rows { All, Filtered };
    void fillRows(Rows which);
    // Reset without the busy check, for the end of Search.
    void showAllRows();
    void setCommandsEnabled(bool enabled);
    int selectedRow() const;
    std::string historyFile() const;

    bool busy_ = false;
};

} // namespace fetchora
