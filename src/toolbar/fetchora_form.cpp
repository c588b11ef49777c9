// Creation, polling and status of the toolbar window, and its Start, Stop and data
// handlers, which pass on to the transfer run.
#include "toolbar/fetchora_form.h"

#include "band/url_drop_target.h"
#include "dialogs/download_options_form.h"
#include "dialogs/download_settings_form.h"
#include "dialogs/edit_form.h"
#include "gallery/download_gallery_form.h"
#include "http/http_client.h"
#include "platform/com/web_browser.h"
#include "platform/files.h"
#include "platform/format.h"
#include "platform/ole/ole.h"
#include "platform/qt/desktop.h"
#include "platform/report.h"
#include "platform/ui.h"
#include "queue/download_list.h"
#include "queue/exception_list.h"
#include "queue/parse_url.h"
#include "queue/queue_dialogs.h"
#include "toolbar/image_list.h"
#include "toolbar/status_panel.h"
#include "toolbar/transfer_run.h"
#include "util/file_io.h"
#include "util/form_builder.h"
#include "util/library_path.h"
#include "util/messages.h"
#include "util/settings.h"
#include "util/strings.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <optional>
#include <vector>

namespace fetchora {

namespace {

constexpr int kTimerInterval = 2000;
// A page address while a run holds the queue: the gallery's save would put the run's
// half-done counts into the queue file, so it waits for the run.
constexpr const char* kNoGalleryDuringRun =
    "Files cannot be picked from a page while a download is in progress. Try again when "
    "it has ended.";
// A drop of a file while the window's client serves a run (or another drop's probe): the
// probe would be refused, so the user is told instead of losing the link unseen.
constexpr const char* kNotQueuedWhileBusy =
    "The link was not queued: a download is in progress. Drop it again when it has ended.";
constexpr int kButtonWidth = 140;

QString qs(const char* text) {
    return QString::fromUtf8(text);
}

} // namespace

TFetchoraForm::TFetchoraForm(QWidget* parent) : QWidget(parent) {
    createComponents();
    guarded([this] { FormCreate(); });
}

TFetchoraForm::~TFetchoraForm() {
    guarded([this] { FormDestroy(); });
}

QColor TFetchoraForm::runningColour() {
    return QColor(169, 247, 128);
}

QColor TFetchoraForm::idleColour() {
    return QApplication::palette().color(QPalette::Base);
}

void TFetchoraForm::createComponents() {
    forms::setUpForm(*this, "FetchoraForm", "Fetchora", {772, 85}, forms::Border::None);
    setAutoFillBackground(true);
    QPalette face = palette();
    face.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    setPalette(face);

    ImageList1 = std::make_unique<TImageList>();
    FDownloads = std::make_unique<TDownloadList>();
    createHttpClient();
    createTransferRun();
    URLDropTarget1 = std::make_unique<TURLDropTarget>(this);
    URLDropTarget1->OnDrop = [this](TURLDropTarget*) { guarded([this] { URLDropTarget1Drop(); }); };

    ToolBar1 = forms::named<QToolBar>(this, "ToolBar1");
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar1->setIconSize(QSize(16, 16));
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);

    ToolButton2 = addSeparator("ToolButton2");
    ToolButton9 = addButton("ToolButton9", "Select files to download", "", TImageList::SelectFiles);
    // The row's button width; a wider fallback font may need more.
    ToolButton9->setMinimumWidth(kButtonWidth);
    StartBtn = addButton("StartBtn", "Start", "Starts download process", TImageList::Start);
    StopBtn = addButton("StopBtn", "Stop", "Stops download process", TImageList::Stop);

    Panel = forms::named<TStatusPanel>(ToolBar1, "Panel");
    Panel->setFixedSize(247, 22);
    ProgLabel = forms::named<TStatusLabel>(Panel, "ProgLabel", qs("Loading..."));
    ProgLabel->move(16, 5);
    ProgLabel->resize(247 - 16 - 2, 13);
    ToolBar1->addWidget(Panel);
    setPanelColour(idleColour());

    EditBtn = addButton("EditBtn", "Edit file list", "", -1);
    ToolButton1 = addSeparator("ToolButton1");
    ToolButton6 = addButton("ToolButton6", "Settings", "View configuration settings...",
                            TImageList::Settings);
    HelpBtn = addButton("HelpBtn", "Help", "View help file", TImageList::Help);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ToolBar1, 0, Qt::AlignTop);

    forms::connectHandler(ToolButton9, &QToolButton::clicked, this,
                          &TFetchoraForm::ToolButton9Click);
    forms::connectHandler(StartBtn, &QToolButton::clicked, this, &TFetchoraForm::StartBtnClick);
    forms::connectHandler(StopBtn, &QToolButton::clicked, this, &TFetchoraForm::StopBtnClick);
    forms::connectHandler(EditBtn, &QToolButton::clicked, this, &TFetchoraForm::EditBtnClick);
    forms::connectHandler(ToolButton6, &QToolButton::clicked, this,
                          &TFetchoraForm::ToolButton6Click);
    forms::connectHandler(HelpBtn, &QToolButton::clicked, this, &TFetchoraForm::HelpBtnClick);

    // The client area is 772 pixels wide, or as wide as the row when the desktop's font
    // makes it wider, so that no button falls into the overflow menu.
    resize(std::max(772, ToolBar1->sizeHint().width()), 85);

    Timer1 = forms::named<QTimer>(this, "Timer1");
    Timer1->setInterval(kTimerInterval);
    forms::connectHandler(Timer1, &QTimer::timeout, this, &TFetchoraForm::Timer1Timer);
    Timer1->start();
}

QToolButton* TFetchoraForm::addButton(const char* name, const char* caption, const char* hint,
                                      int image) {
    auto* button = new QToolButton(ToolBar1);
    button->setObjectName(qs(name));
    button->setText(qs(caption));
    // Hints stay unset as a tooltip: the row shows no hints. Keep the text for reference.
    button->setProperty("hint", qs(hint));
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setAutoRaise(true);
    if (image >= 0)
        button->setIcon(ImageList1->icon(image));
    ToolBar1->addWidget(button);
    return button;
}

QWidget* TFetchoraForm::addSeparator(const char* name) {
    auto* separator = new QWidget(ToolBar1);
    separator->setObjectName(qs(name));
    separator->setFixedWidth(8);
    ToolBar1->addWidget(separator);
    return separator;
}

void TFetchoraForm::createHttpClient() {
    HttpClient1 = makeFormHttpClient("Mozilla/3.0 (compatible)");
    HttpClient1->OnDocData = [this](THttpClient*, const char* buffer, int len) {
        guarded([&] { HttpClient1DocData(buffer, len); });
    };
}

void TFetchoraForm::createTransferRun() {
    TTransferRunEvents events;
    events.statusText = [this](const std::string& text) { SetStatusText(text); };
    events.updateStatus = [this] { UpdateStatus(); };
    events.panelColour = [this](PanelColour colour) {
        setPanelColour(colour == PanelColour::Running ? runningColour() : idleColour());
    };
    events.askConfirmation = [](const std::string& text) { return askConfirmation(text); };
    events.showInformation = [](const std::string& text) { showInformation(text); };
    events.beep = [] { ui::beep(); };
    events.showExceptions = [] { ShowExceptions(); };
    events.ended = [this] {
        queueWhole_ = true;
        Timer1->start();
    };
    run_ = std::make_unique<TTransferRun>(FDownloads, FListFile, *HttpClient1, std::move(events));
}

void TFetchoraForm::setPanelColour(const QColor& colour) {
    QPalette p = Panel->palette();
    p.setColor(QPalette::Window, colour);
    Panel->setPalette(p);
    Panel->update();
}

void TFetchoraForm::FormCreate() {
    installQueueDialogs();
    setSettingsKeyPath(settings::kKeyPath);
    readSettingText(settings::kTypes, settings::kTypesDefault);
    readSettingText(settings::kSound, settings::kSoundDefault);
    FListFile = pathInLibraryFolder("downloads.txt");
    if (!files::fileExists(FListFile))
        writeWholeFile("", FListFile);
    loadQueue();
    // Inside a host that initialised OLE before, the component could not register the
    // window itself; where it could, this answers that the window is registered.
    ole::RegisterDragDrop(this, URLDropTarget1.get());
}

void TFetchoraForm::FormDestroy() {
    ole::RevokeDragDrop(this);
}

void TFetchoraForm::Timer1Timer() {
    // The gallery's entries are in the queue object only until it closes; a reload now
    // would drop them. The change is seen when the gallery closes.
    if (galleryOpen_)
        return;
    try {
        const int age = files::fileAge(pathInLibraryFolder("downloads.txt"));
        if (age != FListFileAge) {
            FListFileAge = age;
            if (run_->running())
                run_->reload();
            else
                loadQueue();
            UpdateStatus();
        }
    } catch (const std::exception& error) {
        Timer1->stop();
        showError(error.what());
    }
}

void TFetchoraForm::UpdateStatus() {
    if (run_->running()) {
        if (const std::optional<std::string> text = run_->progressText())
            SetStatusText(*text);
    } else {
        setPanelColour(idleColour());
        const int count = FDownloads ? FDownloads->count() : 0;
        if (count == 0)
            SetStatusText("Press Select files or drag link here");
        else
            SetStatusText(format("%d file(s) ready - press Start", count));
    }
    // The label paints itself from the event loop, which a request's wait runs, so the
    // text shows while the request pumps messages; texts that follow each other faster
    // than anyone can read are painted once.
}

void TFetchoraForm::SetStatusText(const std::string& text) {
    const QString shown = ui::toQString(text);
    if (shown == ProgLabel->text())
        return;
    ProgLabel->setText(shown);
    emit statusTextChanged(shown);
}

TFetchoraForm::GalleryHook& TFetchoraForm::gallery() {
    static GalleryHook hook;
    return hook;
}

namespace {

// The script a test put in front of the gallery, if any.
TFetchoraForm::GalleryHook::Function installedGallery() {
    TFetchoraForm::GalleryHook::Function installed = TFetchoraForm::gallery().install(nullptr);
    TFetchoraForm::gallery().install(installed);
    return installed;
}

} // namespace

void TFetchoraForm::OpenGallery(const std::string& url) {
    if (run_->running()) {
        showInformation(kNoGalleryDuringRun);
        return;
    }
    const int before = FDownloads->count();
    {
        // The timer leaves the queue alone while the gallery appends to it.
        galleryOpen_ = true;
        const std::unique_ptr<bool, void (*)(bool*)> reopen(&galleryOpen_,
                                                            [](bool* open) { *open = false; });
        if (const GalleryHook::Function script = installedGallery()) {
            script(*FDownloads, url);
        } else {
            // An error of the gallery leaves here: the dialog is freed, nothing saved.
            auto dialog = std::make_unique<TDownloadGalleryForm>(*FDownloads, this);
            dialog->SelectFiles(url);
        }
    }
    keepGalleryEntries(before);
    saveQueue();
}

void TFetchoraForm::keepGalleryEntries(int before) {
    const int age = files::fileAge(FListFile);
    if (age == FListFileAge)
        return;
    // Another window or the queue editor saved the queue while the gallery was open: its
    // file is the queue now, and the gallery's entries go after it.
    std::vector<std::unique_ptr<TDownload>> added;
    while (FDownloads->count() > before)
        added.push_back(FDownloads->extract(before));
    loadQueue();
    FListFileAge = age;
    for (std::unique_ptr<TDownload>& entry : added)
        FDownloads->Add(std::move(entry));
}

void TFetchoraForm::StartBtnClick() {
    if (run_->running())
        return;
    auto dialog = std::make_unique<TDownloadOptionsForm>();
    dialog->DestEdit->setText(ui::toQString(readSettingText(settings::kFolder, "")));
    dialog->FileLabel->setText(ui::toQString(
        format("%d files - %s", FDownloads->count(), formatSize(FDownloads->TotalSize()).c_str())));
    if (ui::showModal(*dialog) != QDialog::Accepted)
        return;
    dialog.reset();
    // The run reads the queue file itself; when it can read it whole, it ends with the
    // whole queue saved.
    queueWhole_ = false;
    run_->run(readSettingText(settings::kFolder, ""));
}

void TFetchoraForm::StopBtnClick() {
    run_->stop();
}

void TFetchoraForm::HttpClient1DocData(const char* buffer, int len) {
    (void)buffer;
    run_->docData(len);
}

namespace {

// The clipboard's text when it is one http or https address, else nothing.
QString clipboardAddress() {
    const QClipboard* clipboard = QGuiApplication::clipboard();
    if (clipboard == nullptr)
        return {};
    QString text = clipboard->text().trimmed();
    const bool web = text.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive) ||
                     text.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive);
    const bool oneWord =
        std::none_of(text.begin(), text.end(), [](QChar c) { return c.isSpace(); });
    if (!web || !oneWord)
        return {};
    return text;
}

// Without a browser there is no page shown: asks for the address of the page to pick
// files from, offering the address on the clipboard. Nothing when the user cancelled.
std::optional<std::string> askPageAddress(QWidget* owner) {
    QDialog dialog(owner);
    forms::setUpForm(dialog, "PageAddressForm", "Select files to download", {420, 110},
                     forms::Border::DialogWithoutIcons);
    auto* prompt =
        forms::named<QLabel>(&dialog, "PromptLabel", qs("Address of the page to pick files from:"));
    auto* edit = forms::named<QLineEdit>(&dialog, "AddressEdit", clipboardAddress());
    auto* buttons = forms::named<QDialogButtonBox>(&dialog, "Buttons",
                                                   QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    auto* layout = new QVBoxLayout(&dialog);
    layout->addWidget(prompt);
    layout->addWidget(edit);
    layout->addStretch(1);
    layout->addWidget(buttons);
    if (ui::showModal(dialog) != QDialog::Accepted)
        return std::nullopt;
    return ui::fromQString(edit->text().trimmed());
}

} // namespace

void TFetchoraForm::ToolButton9Click() {
    std::string url;
    if (WebBrowser != nullptr) {
        WebBrowser->LocationURL(url);
    } else {
        const std::optional<std::string> typed = askPageAddress(this);
        if (!typed)
            return;
        url = *typed;
    }
    if (url.empty()) {
        showInformation("Unable to load URL.");
        return;
    }
    OpenGallery(url);
}

void TFetchoraForm::EditBtnClick() {
    // The editor has no owner; it saves the queue file itself and the timer sees it.
    auto editor = std::make_unique<TEditForm>();
    ui::showModal(*editor);
}

void TFetchoraForm::ToolButton6Click() {
    TDownloadSettingsForm dialog(this);
    ui::showModal(dialog);
}

void TFetchoraForm::HelpBtnClick() {
    const std::string page = helpPagePath();
    if (!files::fileExists(page)) {
        showError(format("The help page %s is missing. Install Fetchora again to restore it.",
                         page.c_str()));
        return;
    }
    // The browser that holds the band shows the page; without one, the desktop's browser.
    if (WebBrowser != nullptr)
        WebBrowser->Navigate(helpPageAddress());
    else
        ui::openAddress(helpPageAddress());
}

void TFetchoraForm::URLDropTarget1Drop() {
    std::string url = URLDropTarget1->URL;
    if (url.empty() && WebBrowser != nullptr)
        WebBrowser->LocationURL(url);
    if (url.empty()) {
        showInformation("Unable to load URL.");
        return;
    }
    TParseURL parsed;
    parsed.Parse(url);
    if (!parsed.HasType(readSettingText(settings::kTypes, settings::kTypesDropDefault))) {
        OpenGallery(url);
        return;
    }
    // A run holds the client and owns the queue file until it merges its results at the
    // end; a save from here would put the run's half-done state into the file.
    if (run_->running() || HttpClient1->State() != httpReady) {
        showInformation(kNotQueuedWhileBusy);
        return;
    }
    auto entry = std::make_unique<TDownload>();
    if (entry->Probe(url, *HttpClient1))
        FDownloads->Add(std::move(entry));
    saveQueue();
}

void TFetchoraForm::loadQueue() {
    queueWhole_ = false;
    FDownloads->LoadFromFile(FListFile);
    queueWhole_ = true;
}

void TFetchoraForm::saveQueue() {
    // The entries after a damaged line are only in the file: saving the part that was
    // read would lose them.
    if (!queueWhole_)
        throw Error(format("The queue file %s is damaged, so it was not changed. Repair or "
                           "remove the damaged line, then press Start.",
                           FListFile.c_str()));
    FDownloads->SaveToFile(FListFile);
}

} // namespace fetchora
