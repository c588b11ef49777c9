// The gallery dialog: its layout, the filter and its history file, the row menu loaded
// from IDM_MY_MENU, and the two long loops, Search and Add, that show the progress
// dialog and can be cancelled.
#include "gallery/download_gallery_form.h"

#include "gallery/hyper_link.h"
#include "gallery/page_scan.h"
#include "http/http_client.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/qt/desktop.h"
#include "platform/resources/menu.h"
#include "platform/resources/resource_table.h"
#include "platform/resources/track_popup_menu.h"
#include "platform/ui.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "queue/progress_form.h"
#include "util/file_io.h"
#include "util/form_builder.h"
#include "util/library_path.h"
#include "util/link_label.h"
#include "util/list_view.h"
#include "util/messages.h"
#include "util/strings.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QCursor>
#include <QElapsedTimer>
#include <QFontMetrics>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <vector>

namespace fetchora {

namespace {

constexpr int kLinkIcon = 0;
constexpr int kImageIcon = 1;
constexpr const char* kHistoryFile = "contains.txt";
// Search needs at least one page to visit.
constexpr const char* kNoPageChecked =
    "No link is checked. Check the links of the pages to search, then press Search.";

QString qs(const char* text) {
    return QString::fromUtf8(text);
}

// The row icons and the header picture are drawn here rather than shipped as files.
QIcon linkIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(30, 90, 200), 2));
    p.drawRoundedRect(QRectF(1.5, 5.5, 8, 5), 2.5, 2.5);
    p.drawRoundedRect(QRectF(6.5, 5.5, 8, 5), 2.5, 2.5);
    return QIcon(pixmap);
}

QIcon imageIcon() {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(QColor(200, 230, 255));
    p.drawRect(QRectF(1.5, 2.5, 13, 11));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(250, 200, 40));
    p.drawEllipse(QPointF(11, 6), 1.8, 1.8);
    p.setBrush(QColor(60, 150, 60));
    QPainterPath hill;
    hill.moveTo(2, 13);
    hill.lineTo(6, 7);
    hill.lineTo(10, 13);
    p.drawPath(hill);
    return QIcon(pixmap);
}

QPixmap headerPicture() {
    QPixmap pixmap(40, 40);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(80, 80, 80), 1.5));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(6, 3, 22, 30)); // a page
    p.setPen(QPen(QColor(170, 170, 170), 1.5));
    for (int y = 9; y <= 21; y += 4)
        p.drawLine(QPointF(10, y), QPointF(24, y));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(40, 160, 60)); // an arrow into the queue
    QPainterPath arrow;
    arrow.moveTo(26, 18);
    arrow.lineTo(34, 18);
    arrow.lineTo(34, 27);
    arrow.lineTo(38, 27);
    arrow.lineTo(30, 37);
    arrow.lineTo(22, 27);
    arrow.lineTo(26, 27);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return pixmap;
}

QWidget* makeHeader(QWidget* parent) {
    auto* panel = new THeaderPanel(qs("Add files to the download list"),
                                   qs("Press Add to add checked files to download list. "
                                      "Press Search to search checked pages for more files."),
                                   parent);
    panel->setObjectName(qs("HeaderPanel"));
    panel->setPicture(headerPicture());
    return panel;
}

// Splits the history file into its lines (CR LF, or a bare LF from a hand edit).
QStringList historyLines(const std::string& text) {
    QStringList lines;
    for (const QString& line : ui::toQString(text).split(QLatin1Char('\n'))) {
        QString item = line;
        if (item.endsWith(QLatin1Char('\r')))
            item.chop(1);
        if (!item.isEmpty())
            lines.append(item);
    }
    return lines;
}

// Each column as wide as its widest text (heading or cell) plus 40, as fitColumns makes
// it, with room for the first column's check box and icon, and fast enough for tens of thousands of
// rows: a text of Latin-1 characters is measured as the sum of its characters' advances, each
// measured once, instead of being shaped whole; other texts are shaped as before.
void fitManyColumns(QTreeWidget* view) {
    const QFontMetrics metrics(view->font());
    std::array<int, 256> advances{};
    advances.fill(-1);
    const auto width = [&](const QString& text) {
        int sum = 0;
        for (const QChar c : text) {
            const char16_t code = c.unicode();
            if (code >= advances.size())
                return metrics.horizontalAdvance(text);
            int& advance = advances[code];
            if (advance < 0)
                advance = metrics.horizontalAdvance(c);
            sum += advance;
        }
        return sum;
    };
    // The first column's cells also hold the check box and the row icon.
    const int decoration =
        view->style()->pixelMetric(QStyle::PM_IndicatorWidth) + view->iconSize().width() + 8;
    const QTreeWidgetItem* header = view->headerItem();
    for (int column = 0; column < view->columnCount(); ++column) {
        int widest = header != nullptr ? metrics.horizontalAdvance(header->text(column)) : 0;
        const int extra = column == 0 && view->topLevelItemCount() > 0 ? decoration : 0;
        for (int i = 0; i < view->topLevelItemCount(); ++i)
            widest = std::max(widest, width(view->topLevelItem(i)->text(column)) + extra);
        view->setColumnWidth(column, widest + 40);
    }
}

// Lets the progress dialog paint at most every 40 ms. A size probe on a near server takes
// a fraction of a millisecond, and painting the dialog after each one would cost more
// than the probes; the texts are still set at every step and show at the next paint.
class PaintThrottle final {
public:
    explicit PaintThrottle(QWidget& widget) : widget_(widget) { clock_.start(); }
    // Before pending events are processed: paint now only when the time has come.
    void step() {
        const bool due = clock_.elapsed() >= kIntervalMs;
        if (due)
            clock_.restart();
        widget_.setUpdatesEnabled(due);
    }

private:
    static constexpr qint64 kIntervalMs = 40;
    QWidget& widget_;
    QElapsedTimer clock_;
};

} // namespace

// Marks the dialog busy and its other commands disabled for the life of a long loop.
class TDownloadGalleryForm::BusyScope final {
public:
    explicit BusyScope(TDownloadGalleryForm& form) : form_(form) {
        form_.busy_ = true;
        form_.setCommandsEnabled(false);
    }
    ~BusyScope() {
        form_.busy_ = false;
        form_.setCommandsEnabled(true);
    }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;

private:
    TDownloadGalleryForm& form_;
};

TDownloadGalleryForm::TDownloadGalleryForm(TDownloadList& queue, QWidget* parent)
    : QDialog(parent), Queue(&queue) {
    using forms::named;
    forms::setUpForm(*this, "DownloadGalleryForm", "Download Gallery", {600, 550},
                     forms::Border::Sizeable, forms::Placement::OnDesktop);

    HeaderPanel = makeHeader(this);
    ShowCB = named<QComboBox>(this, "ShowCB");
    ShowCB->addItems({qs("Links and Images"), qs("Links"), qs("Images")});
    ShowCB->setCurrentIndex(-1);
    WhereCB = named<QComboBox>(this, "WhereCB");
    WhereCB->addItems({qs("URL"), qs("Description")});
    WhereCB->setCurrentIndex(-1);
    ContainsCB = named<QComboBox>(this, "ContainsCB");
    ContainsCB->setEditable(true);
    ContainsCB->setInsertPolicy(QComboBox::NoInsert);
    ContainsCB->addItem(qs("jpg"));
    ContainsCB->setEditText(QString());
    FilterBtn = named<QPushButton>(this, "FilterBtn", qs("Apply"));
    ResetBtn = named<TLinkLabel>(this, "ResetBtn", qs("Reset"));
    Label4 = named<TLinkLabel>(this, "Label4", qs("Clear history"));
    CountLabel = named<QLabel>(this, "CountLabel", qs("0 files found"));
    QFont bold = CountLabel->font();
    bold.setBold(true);
    CountLabel->setFont(bold);

    FileList = makeReportView(this, "FileList", {qs("Type"), qs("Description"), qs("URL")}, this);
    FileList->setColumnWidth(1, 200);
    FileList->setColumnWidth(2, 200);
    FileList->setIconSize(QSize(16, 16));

    Label9 = named<QLabel>(this, "Label9", qs("Right-click for selection options"));
    ScanBtn = named<QPushButton>(this, "ScanBtn", qs("Search"));
    AddBtn = named<QPushButton>(this, "AddBtn", qs("Add"));
    BitBtn3 = named<QPushButton>(this, "BitBtn3", qs("Close"));

    auto* filters = new QGridLayout;
    filters->addWidget(named<QLabel>(this, "Label5", qs("Show")), 0, 0);
    filters->addWidget(named<QLabel>(this, "Label6", qs("Where")), 0, 1);
    filters->addWidget(named<QLabel>(this, "Label7", qs("Contains")), 0, 2);
    filters->addWidget(ShowCB, 1, 0);
    filters->addWidget(WhereCB, 1, 1);
    filters->addWidget(ContainsCB, 1, 2);
    filters->addWidget(FilterBtn, 1, 3);
    filters->setColumnStretch(2, 1);
    auto* links = new QHBoxLayout;
    links->addWidget(ResetBtn);
    links->addWidget(Label4);
    links->addStretch(1);
    links->addWidget(CountLabel);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(Label9, 1);
    buttons->addWidget(ScanBtn);
    buttons->addWidget(AddBtn);
    buttons->addWidget(BitBtn3);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(8, 8, 8, 8);
    body->addLayout(filters);
    body->addLayout(links);
    body->addWidget(FileList, 1);
    body->addLayout(buttons);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(HeaderPanel);
    layout->addLayout(body, 1);

    HttpClient1 = makeFormHttpClient("Mozilla/3.0 (compatible)");
    Scanner = std::make_unique<TPageScanner>(HttpClient1.get());

    forms::connectHandler(FilterBtn, &QPushButton::clicked, this,
                          &TDownloadGalleryForm::FilterBtnClick);
    forms::connectHandler(ResetBtn, &TLinkLabel::clicked, this,
                          &TDownloadGalleryForm::ResetBtnClick);
    forms::connectHandler(Label4, &TLinkLabel::clicked, this, &TDownloadGalleryForm::Label4Click);
    forms::connectHandler(ScanBtn, &QPushButton::clicked, this,
                          &TDownloadGalleryForm::ScanBtnClick);
    forms::connectHandler(AddBtn, &QPushButton::clicked, this, &TDownloadGalleryForm::AddBtnClick);
    connect(BitBtn3, &QPushButton::clicked, this, [this] {
        if (!busy_)
            accept();
    });
    forms::connectHandler(FileList, &QTreeWidget::itemChanged, this,
                          &TDownloadGalleryForm::FileListChange);
    forms::connectHandler(FileList, &QTreeWidget::itemSelectionChanged, this,
                          &TDownloadGalleryForm::FileListChange);
    guarded([this] { FormCreate(); });
}

TDownloadGalleryForm::~TDownloadGalleryForm() = default;

void TDownloadGalleryForm::FormCreate() {
    Links = std::make_unique<THyperLinkList>();
    const std::string file = historyFile();
    if (!files::fileExists(file))
        return;
    const QSignalBlocker blocker(ContainsCB);
    ContainsCB->clear();
    ContainsCB->addItems(historyLines(readWholeFile(file)));
    ContainsCB->setEditText(QString());
}

void TDownloadGalleryForm::FormShow() {
    ShowCB->setFocus();
}

void TDownloadGalleryForm::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    guarded([this] { FormShow(); });
}

void TDownloadGalleryForm::reject() {
    if (!busy_)
        QDialog::reject();
}

std::string TDownloadGalleryForm::historyFile() const {
    return pathInLibraryFolder(kHistoryFile);
}

bool TDownloadGalleryForm::SelectFiles(const std::string& url) {
    setWindowTitle(ui::toQString(url));
    FileList->clear();
    ContainsCB->setEditText(QString());
    LoadPage(*Links, url);
    FilterBtnClick();
    return ui::showModal(*this) == QDialog::Accepted;
}

void TDownloadGalleryForm::LoadPage(THyperLinkList& list, const std::string& url) {
    Scanner->LoadPage(list, url);
}

THyperLink& TDownloadGalleryForm::rowLink(int row) const {
    const QTreeWidgetItem* item = FileList->topLevelItem(row);
    if (item == nullptr)
        throw ListError(row);
    return *static_cast<THyperLink*>(item->data(0, Qt::UserRole).value<void*>());
}

bool TDownloadGalleryForm::LinkPassesFilter(const THyperLink& entry) const {
    const int show = ShowCB->currentIndex();
    if (show == 1 && entry.Kind == kImageKind)
        return false;
    if (show == 2 && entry.Kind == kLinkKind)
        return false;
    const std::string text = ui::fromQString(ContainsCB->currentText());
    if (text.empty())
        return true;
    switch (WhereCB->currentIndex()) {
    case 0:
        return entry.URL.find(text) != std::string::npos;
    case 1:
        return entry.Description.find(text) != std::string::npos;
    default:
        return false;
    }
}

void TDownloadGalleryForm::fillRows(Rows which) {
    // One insertion of every row with the view's signals and painting off: the change
    // handler and the view's layout run once for the whole list, not once per row.
    static const QIcon icons[] = {linkIcon(), imageIcon()};
    const QSignalBlocker blocker(FileList);
    FileList->setUpdatesEnabled(false);
    FileList->clear();
    QList<QTreeWidgetItem*> rows;
    rows.reserve(Links->count());
    for (int i = 0; i < Links->count(); ++i) {
        THyperLink& entry = Links->GetLink(i);
        if (which == Rows::Filtered && !LinkPassesFilter(entry))
            continue;
        const bool link = entry.Kind == kLinkKind;
        auto* row = new QTreeWidgetItem;
        row->setText(0, link ? qs("Link") : qs("Image"));
        row->setIcon(0, icons[link ? kLinkIcon : kImageIcon]);
        row->setText(1, ui::toQString(entry.Description));
        row->setText(2, ui::toQString(entry.URL));
        row->setData(0, Qt::UserRole, QVariant::fromValue(static_cast<void*>(&entry)));
        row->setCheckState(0, Qt::Checked);
        rows.append(row);
    }
    FileList->addTopLevelItems(rows);
    fitManyColumns(FileList);
    FileList->setUpdatesEnabled(true);
    UpdateCount();
}

void TDownloadGalleryForm::FilterBtnClick() {
    if (busy_)
        return;
    fillRows(Rows::Filtered);
    SaveHistory();
}

void TDownloadGalleryForm::SaveHistory() {
    const QString text = ContainsCB->currentText();
    if (!text.isEmpty() && ContainsCB->findText(text, Qt::MatchFixedString) < 0) {
        const QSignalBlocker blocker(ContainsCB);
        ContainsCB->insertItem(0, text);
        ContainsCB->setEditText(text);
    }
    std::string lines;
    for (int i = 0; i < ContainsCB->count(); ++i)
        lines += ui::fromQString(ContainsCB->itemText(i)) + "\r\n";
    writeWholeFile(lines, historyFile());
}

void TDownloadGalleryForm::ResetBtnClick() {
    if (busy_)
        return;
    showAllRows();
}

void TDownloadGalleryForm::showAllRows() {
    ShowCB->setCurrentIndex(-1);
    WhereCB->setCurrentIndex(-1);
    ContainsCB->setEditText(QString());
    fillRows(Rows::All);
}

void TDownloadGalleryForm::Label4Click() {
    if (busy_)
        return;
    ContainsCB->clear();
    ContainsCB->setEditText(QString());
    const std::string file = historyFile();
    if (files::fileExists(file))
        files::deleteFile(file);
}

void TDownloadGalleryForm::UpdateCount() {
    CountLabel->setText(ui::toQString(format("%d links selected", countChecked(FileList))));
}

void TDownloadGalleryForm::FileListChange() {
    UpdateCount();
}

bool TDownloadGalleryForm::eventFilter(QObject* watched, QEvent* event) {
    if (!selectRowOnRightClick(FileList, watched, event))
        return QDialog::eventFilter(watched, event);
    guarded([&] { FileListMouseDown(Qt::RightButton); });
    return true;
}

int TDownloadGalleryForm::selectedRow() const {
    const QList<QTreeWidgetItem*> selected = FileList->selectedItems();
    return selected.isEmpty() ? -1 : FileList->indexOfTopLevelItem(selected.front());
}

void TDownloadGalleryForm::FileListMouseDown(Qt::MouseButton button) {
    using namespace resources;
    if (button != Qt::RightButton || busy_)
        return;
    const UniqueMenu menu(LoadMenu(IDM_MY_MENU));
    if (!menu)
        throw Error("The menu resource IDM_MY_MENU is missing.");
    const QPoint at = QCursor::pos();
    const unsigned command = TrackPopupMenu(GetSubMenu(menu.get(), 0),
                                            TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x(), at.y(), this);
    const auto command_ = static_cast<GalleryMenuCommand>(command);
    const bool check = command % 2 == 1;
    switch (command_) {
    case GalleryMenuCommand::CheckAll:
    case GalleryMenuCommand::UncheckAll:
        setAllChecks(FileList, check);
        break;
    case GalleryMenuCommand::CheckAbove:
    case GalleryMenuCommand::UncheckAbove:
        // Above and Below count from the selected row; without one they say so.
        if (requireSelection(FileList, "Select a file."))
            setChecksUpTo(FileList, selectedRow(), check);
        break;
    case GalleryMenuCommand::CheckBelow:
    case GalleryMenuCommand::UncheckBelow:
        if (requireSelection(FileList, "Select a file."))
            setChecksFrom(FileList, selectedRow(), check);
        break;
    case GalleryMenuCommand::CheckImages:
    case GalleryMenuCommand::UncheckImages:
        setChecksByCaption(FileList, "Image", check);
        break;
    case GalleryMenuCommand::CheckLinks:
    case GalleryMenuCommand::UncheckLinks:
        setChecksByCaption(FileList, "link", check);
        break;
    case GalleryMenuCommand::View:
        Viewlink1Click();
        break;
    case GalleryMenuCommand::Copy:
        Copylinktoclipboard1Click();
        break;
    default: // dismissed
        break;
    }
    UpdateCount();
}

void TDownloadGalleryForm::Viewlink1Click() {
    if (!requireSelection(FileList, "Select a file."))
        return;
    ui::openAddress(rowLink(selectedRow()).URL);
}

void TDownloadGalleryForm::Copylinktoclipboard1Click() {
    if (!requireSelection(FileList, "Select a file."))
        return;
    QGuiApplication::clipboard()->setText(ui::toQString(rowLink(selectedRow()).URL));
}

void TDownloadGalleryForm::setCommandsEnabled(bool enabled) {
    for (QWidget* widget : std::initializer_list<QWidget*>{
             ShowCB, WhereCB, ContainsCB, FilterBtn, ResetBtn, Label4, ScanBtn, AddBtn, BitBtn3})
        widget->setEnabled(enabled);
}

void TDownloadGalleryForm::ScanBtnClick() {
    if (busy_)
        return;
    std::vector<std::string> pages;
    for (int i = 0; i < FileList->topLevelItemCount(); ++i) {
        if (FileList->topLevelItem(i)->checkState(0) != Qt::Checked)
            continue;
        const THyperLink& entry = rowLink(i);
        if (entry.Kind == kLinkKind)
            pages.push_back(entry.URL);
    }
    if (pages.empty()) {
        showInformation(kNoPageChecked);
        return;
    }
    const BusyScope scope(*this);
    const int total = static_cast<int>(pages.size());
    auto progress = std::make_unique<TProgressForm>(this);
    progress->setWindowTitle(qs("Searching pages..."));
    progress->ProgressBar1->setRange(0, total - 1);
    progress->ProgressBar1->setValue(0);
    progress->show();
    {
        const QSignalBlocker blocker(FileList);
        FileList->clear();
    }
    Links->clear();
    PaintThrottle painting(*progress);
    int searched = 0;
    for (int i = 0; i < total; ++i) {
        progress->ProgressBar1->setValue(i);
        progress->Label1->setText(ui::toQString(format("Searching %d of %d...", i + 1, total)));
        LoadPage(*Links, pages[static_cast<size_t>(i)]);
        ++searched;
        painting.step();
        QCoreApplication::processEvents();
        if (progress->Cancelled) {
            progress->hide();
            showInformation("Search canceled.");
            break;
        }
    }
    progress.reset();
    showAllRows();
    showInformation(format("%d pages searched", searched));
}

void TDownloadGalleryForm::AddBtnClick() {
    if (busy_)
        return;
    const BusyScope scope(*this);
    int added = 0;
    const int rows = FileList->topLevelItemCount();
    auto progress = std::make_unique<TProgressForm>(this);
    progress->setWindowTitle(qs("Adding files..."));
    progress->ProgressBar1->setRange(0, rows);
    progress->ProgressBar1->setValue(0);
    progress->show();
    PaintThrottle painting(*progress);
    for (int i = 0; i < rows; ++i) {
        progress->ProgressBar1->setValue(i);
        if (FileList->topLevelItem(i)->checkState(0) == Qt::Checked) {
            auto download = std::make_unique<TDownload>();
            if (download->Probe(rowLink(i).URL, *HttpClient1)) {
                Queue->Add(std::move(download));
                ++added;
            } else {
                AddException(download->ErrorText, download->URL);
            }
            progress->Label1->setText(
                ui::toQString(format("File %d of %d. Getting file size...", added, rows)));
        } else {
            progress->Label1->setText(
                ui::toQString(format("File %d of %d. Skipping...", added, rows)));
        }
        if (progress->Cancelled) {
            progress->hide();
            showInformation("Add canceled.");
            break;
        }
        painting.step();
        QCoreApplication::processEvents();
    }
    progress.reset();
    ShowExceptions();
    showInformation(format("%d files added to download list.", added));
}

} // namespace fetchora
