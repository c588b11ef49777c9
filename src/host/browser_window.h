// A browser window: address bar, back, forward and reload, the page view, and the band
// area above the page where the registered toolbar band is docked.
#pragma once

#include "host/browser_page.h"

#include <QMainWindow>

#include <functional>

class QLineEdit;
class QUrl;
class QWebEngineView;

namespace fetchora::host {

class BandArea;
class BandLibrary;

class BrowserWindow final : public QMainWindow, public BrowserPage {
    Q_OBJECT

public:
    // Opens a window on address; library loads its band (nullptr: no band).
    BrowserWindow(BandLibrary* library, const QUrl& address);
    ~BrowserWindow() override;

    // BrowserPage, for the band's view of this window.
    std::string currentAddress() const override;
    void showAddress(const std::string& address) override;

    // Opens another window in this process, with a band of its own.
    BrowserWindow* openNewWindow(const QUrl& address);

    // Where an address typed without a scheme goes: "http://" in front of it.
    static QUrl addressFromInput(const QString& text);

    // Called with a line for each thing the window did (page shown, band docked), for a
    // test or a log; empty: nothing is written.
    using Reporter = std::function<void(const QString& line)>;
    static void setReporter(Reporter reporter);
    static void report(const QString& line);

    QWebEngineView* view() const { return view_; }
    BandArea* bandArea() const { return bandArea_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createActions();
    void navigateFromAddressBar();
    // Reports where the page view, the bands and their named controls are on the screen.
    void reportLayout();

    BandLibrary* library_;
    QLineEdit* addressBar_ = nullptr;
    QWebEngineView* view_ = nullptr;
    BandArea* bandArea_ = nullptr;
};

} // namespace fetchora::host
