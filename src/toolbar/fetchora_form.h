// The toolbar window: the row of buttons with the status field that a browser window
// shows as its band. It owns the window's download queue, keeps it in step with the
// queue file by polling it every two seconds, and starts the commands.
#pragma once

#include "platform/com/com_ptr.h"
#include "platform/com/web_browser.h"
#include "util/dialog_hook.h"

#include <QWidget>

#include <memory>
#include <string>

class QFrame;
class QLabel;
class QTimer;
class QToolBar;
class QToolButton;

namespace fetchora {

class TDownload;
class TDownloadList;
class THttpClient;
class TImageList;
class TStatusLabel;
class TTransferRun;
class TURLDropTarget;

class TFetchoraForm final : public QWidget {
    Q_OBJECT

public:
    explicit TFetchoraForm(QWidget* parent = nullptr);
    ~TFetchoraForm() override;

    // Components, in the order of the row.
    QToolBar* ToolBar1 = nullptr;
    QWidget* ToolButton2 = nullptr; // separator
    QToolButton* ToolButton9 = nullptr;
    QToolButton* StartBtn = nullptr;
    QToolButton* StopBtn = nullptr;
    QFrame* Panel = nullptr;
    TStatusLabel* ProgLabel = nullptr;
    QToolButton* EditBtn = nullptr;
    QWidget* ToolButton1 = nullptr; // separator
    QToolButton* ToolButton6 = nullptr;
    QToolButton* HelpBtn = nullptr;
    std::unique_ptr<TImageList> ImageList1;
    QTimer* Timer1 = nullptr;
    std::unique_ptr<THttpClient> HttpClient1;
    std::unique_ptr<TURLDropTarget> URLDropTarget1;

    // The browser window that holds the band; set by the band right after creation. The
    // window holds its own reference and releases it when it goes.
    com::ComPtr<com::IWebBrowser2> WebBrowser;

    void UpdateStatus();
    void SetStatusText(const std::string& text);
    void OpenGallery(const std::string& url);

    // Opens the gallery for url unless a run is going, then saves the queue, keeping the
    // gallery's entries after whatever another window saved meanwhile.
    // A script in front of the gallery for tests: it takes the queue and the page address
    // and answers as SelectFiles does; without one OpenGallery shows the real dialog.
    using GalleryHook = DialogHook<bool(TDownloadList& queue, const std::string& url)>;
    static GalleryHook& gallery();

    // Handlers.
    void FormCreate();
    void FormDestroy();
    void Timer1Timer();
    void ToolButton9Click();
    void StartBtnClick();
    void StopBtnClick();
    void EditBtnClick();
    void ToolButton6Click();
    void HelpBtnClick();
    void URLDropTarget1Drop();
    // A piece of response body arrived for the run's request.
    void HttpClient1DocData(const char* buffer, int len);

    // The window's queue and its file.
    TDownloadList& downloads() { return *FDownloads; }
    const std::string& listFile() const { return FListFile; }
    // The queue file's modification stamp as the timer last saw it.
    int listFileAge() const { return FListFileAge; }
    // The transfer run of this window, between runs too.
    TTransferRun& transferRun() { return *run_; }

    // The status panel's colour during a run: RGB 169, 247, 128.
    static QColor runningColour();
    static QColor idleColour();

signals:
    // The status field shows a new text.
    void statusTextChanged(const QString& text);

private:
    void createComponents();
    void createHttpClient();
    void createTransferRun();
    QToolButton* addButton(const char* name, const char* caption, const char* hint, int image);
    QWidget* addSeparator(const char* name);
    void setPanelColour(const QColor& colour);
    // After the gallery: when the queue file changed meanwhile, reloads it and appends the
    // entries from index before on, which the gallery added.
    void keepGalleryEntries(int before);
    // Loads the queue from its file; a damaged file leaves the queue partly read.
    void loadQueue();
    // Saves the queue to its file, unless the queue in memory is only part of a damaged
    // file: then the file stays as it is, and the user is told why.
    void saveQueue();

    std::string FListFile;
    std::unique_ptr<TDownloadList> FDownloads;
    int FListFileAge = 0;
    std::unique_ptr<TTransferRun> run_;
    // True while the gallery is open; the timer does not reload the queue meanwhile.
    bool galleryOpen_ = false;
    // The queue in memory is the whole queue file (false after a damaged file was read).
    bool queueWhole_ = false;
};

} // namespace fetchora
