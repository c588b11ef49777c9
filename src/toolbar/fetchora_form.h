// The toolbar window: the row of buttons with the status field that a browser window
// shows as its band. It owns the window's download queue, keeps it in step with the
// queue file by polling it every two seconds, and starts the commands.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

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

namespace com {
class IWebBrowser2;
}
namespace files {
class TempFile;
}

class TFetchoraForm : public QWidget {
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

    // The browser window that holds the band; set by the band right after creation.
    com::IWebBrowser2* WebBrowser = nullptr;

    // Window state.
    std::string FListFile;
    std::unique_ptr<TDownloadList> FDownloads;
    int FListFileAge = 0;
    bool FRunning = false;
    bool FCancelled = false;
    int FRunTotal = 0;
    TDownload* FCurrent = nullptr;

    void UpdateStatus();
    void SetStatusText(const std::string& text);
    void OpenGallery(const std::string& url);

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

    // The status panel's colour during a run: RGB 169, 247, 128.
    static QColor runningColour();
    static QColor idleColour();

signals:
    // The status field shows a new text.
    void statusTextChanged(const QString& text);

private:
    // What the run keeps beside the window's fields while it works.
    struct RunState {
        // The attempt in progress asked for the rest of a partial file.
        bool rangeRequested = false;
        // The server answered that range request with the whole file.
        bool restarted = false;
        // Body bytes of the attempt that belong to the file.
        size_t accepted = 0;
        // URLs of the entries this run finished.
        std::vector<std::string> finished;
        // The file names the run gave its entries, by URL.
        std::vector<std::pair<std::string, std::string>> names;
        // The run's current entry after a reload dropped it from the queue.
        std::unique_ptr<TDownload> detached;
    };

    void createComponents();
    void createHttpClient();
    void fetchQueue();
    // Leaves in output the partial file's bytes and the counted bytes of the response.
    void keepFileBytes(files::TempFile& output, int64_t partial, int64_t received);
    void endRun();
    // Reloads the queue file while a run waits in a request, keeping the run's current
    // entry with its counters and leaving out what the run already finished.
    void reloadDuringRun();
    QToolButton* addButton(const char* name, const char* caption, const char* hint, int image);
    QWidget* addSeparator(const char* name);
    void setPanelColour(const QColor& colour);

    RunState run_;
};

} // namespace fetchora
