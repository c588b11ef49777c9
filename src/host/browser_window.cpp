// The browser window: a page view on Qt WebEngine under a row of navigation controls and
// the band area.
#include "host/browser_window.h"

#include "host/band_area.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDropEvent>
#include <QKeySequence>
#include <QLineEdit>
#include <QMenuBar>
#include <QMimeData>
#include <QToolBar>
#include <QUrl>
#include <QVBoxLayout>
#include <QWebEngineHistory>
#include <QWebEngineView>

#include <utility>

namespace fetchora::host {

namespace {

BrowserWindow::Reporter& reporter() {
    static BrowserWindow::Reporter instance;
    return instance;
}

// A page view whose pages may open windows (a link with a target, window.open): each
// opens as a new browser window with its own band.
class PageView final : public QWebEngineView {
public:
    explicit PageView(BrowserWindow* window) : QWebEngineView(window), window_(window) {}

protected:
    QWebEngineView* createWindow(QWebEnginePage::WebWindowType /*type*/) override {
        return window_->openNewWindow(QUrl())->view();
    }

private:
    BrowserWindow* window_;
};

// Chromium gives a dragged link's title as its text (text/plain) and the address only in
// text/uri-list, so a drop target that reads the text takes the title for the address.
// A drag that leaves one of this program's page views carries the address as its text.
class LinkDragText final : public QObject {
public:
    static void install() {
        static LinkDragText filter;
        static const bool installed = (qApp->installEventFilter(&filter), true);
        (void)installed;
    }

protected:
    bool eventFilter(QObject* /*watched*/, QEvent* event) override {
        if (event->type() != QEvent::DragEnter && event->type() != QEvent::Drop)
            return false;
        auto* drop = static_cast<QDropEvent*>(event);
        // Only a drag out of this process has data that is ours to change.
        if (drop->source() == nullptr || !drop->mimeData()->hasUrls())
            return false;
        const QList<QUrl> urls = drop->mimeData()->urls();
        if (urls.isEmpty())
            return false;
        const QString address = urls.first().toString(QUrl::FullyEncoded);
        auto* data = const_cast<QMimeData*>(drop->mimeData());
        if (data->text() != address)
            data->setText(address);
        return false;
    }
};

} // namespace

BrowserWindow::BrowserWindow(BandLibrary* library, const QUrl& address) : library_(library) {
    setAttribute(Qt::WA_DeleteOnClose);
    LinkDragText::install();
    setWindowTitle(QStringLiteral("Fetchora"));

    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    view_ = new PageView(this);
    bandArea_ = new BandArea(library_, *this, central);
    layout->addWidget(bandArea_);
    layout->addWidget(view_, 1);
    setCentralWidget(central);
    createActions();

    connect(view_, &QWebEngineView::titleChanged, this, [this](const QString& title) {
        setWindowTitle(title.isEmpty() ? QStringLiteral("Fetchora") : title);
    });
    connect(view_, &QWebEngineView::urlChanged, this,
            [this](const QUrl& url) { addressBar_->setText(url.toDisplayString()); });
    connect(view_, &QWebEngineView::loadFinished, this, [this](bool ok) {
        report(QStringLiteral("page %1 %2")
                   .arg(ok ? QStringLiteral("loaded") : QStringLiteral("failed"),
                        view_->url().toString()));
        reportLayout();
    });

    resize(1000, 700);
    bandArea_->setFocusLeaves([this] { view_->setFocus(Qt::TabFocusReason); });
    bandArea_->dock();
    if (!address.isEmpty())
        view_->setUrl(address);
}

BrowserWindow::~BrowserWindow() = default;

void BrowserWindow::reportLayout() {
    if (!reporter())
        return;
    auto geometry = [](const QWidget* widget) {
        const QPoint origin = widget->mapToGlobal(QPoint(0, 0));
        return QStringLiteral("%1 %2 %3 %4")
            .arg(origin.x())
            .arg(origin.y())
            .arg(widget->width())
            .arg(widget->height());
    };
    report(QStringLiteral("window %1 %2").arg(frameGeometry().x()).arg(frameGeometry().y()) +
           QStringLiteral(" %1 %2").arg(frameGeometry().width()).arg(frameGeometry().height()));
    report(QStringLiteral("view ") + geometry(view_));
    const auto bands = bandArea_->bandWindows();
    report(QStringLiteral("bands %1").arg(bands.size()));
    if (!bandArea_->message().isEmpty())
        report(QStringLiteral("band message ") + bandArea_->message());
    // The named controls of each band, so that a test can press them as a person would.
    for (const QWidget* band : bands) {
        report(QStringLiteral("band window ") + geometry(band));
        for (const QWidget* control : band->findChildren<QWidget*>()) {
            if (!control->objectName().isEmpty() && control->isVisible())
                report(QStringLiteral("band control %1 ").arg(control->objectName()) +
                       geometry(control));
        }
    }
}

void BrowserWindow::createActions() {
    auto* fileMenu = menuBar()->addMenu(tr("&File"));
    QAction* newWindow = fileMenu->addAction(tr("&New Window"));
    newWindow->setShortcut(QKeySequence::New);
    connect(newWindow, &QAction::triggered, this, [this] { openNewWindow(view_->url()); });
    QAction* close = fileMenu->addAction(tr("&Close"));
    close->setShortcut(QKeySequence::Close);
    connect(close, &QAction::triggered, this, &QWidget::close);

    auto* bar = addToolBar(tr("Navigation"));
    bar->setObjectName(QStringLiteral("navigation"));
    bar->setMovable(false);
    bar->addAction(view_->pageAction(QWebEnginePage::Back));
    bar->addAction(view_->pageAction(QWebEnginePage::Forward));
    bar->addAction(view_->pageAction(QWebEnginePage::Reload));
    addressBar_ = new QLineEdit(bar);
    addressBar_->setObjectName(QStringLiteral("address"));
    addressBar_->setClearButtonEnabled(true);
    bar->addWidget(addressBar_);
    connect(addressBar_, &QLineEdit::returnPressed, this, &BrowserWindow::navigateFromAddressBar);
}

void BrowserWindow::navigateFromAddressBar() {
    const QUrl url = addressFromInput(addressBar_->text());
    if (url.isValid())
        view_->setUrl(url);
}

QUrl BrowserWindow::addressFromInput(const QString& text) {
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty())
        return {};
    // "host/path" and "host:port/path" have no scheme; "about:blank" and "file:///x" do.
    static const QStringList schemes = {QStringLiteral("http:"), QStringLiteral("https:"),
                                        QStringLiteral("file:"), QStringLiteral("about:"),
                                        QStringLiteral("data:"), QStringLiteral("qrc:")};
    for (const QString& scheme : schemes) {
        if (trimmed.startsWith(scheme, Qt::CaseInsensitive))
            return QUrl(trimmed);
    }
    if (trimmed.startsWith(QLatin1Char('/')))
        return QUrl::fromLocalFile(trimmed);
    return QUrl(QStringLiteral("http://") + trimmed);
}

std::string BrowserWindow::currentAddress() const {
    const QUrl url = view_->url();
    if (url.isEmpty())
        return {};
    return url.toString(QUrl::FullyEncoded).toStdString();
}

void BrowserWindow::showAddress(const std::string& address) {
    view_->setUrl(QUrl(QString::fromStdString(address)));
}

BrowserWindow* BrowserWindow::openNewWindow(const QUrl& address) {
    auto* window = new BrowserWindow(library_, address);
    window->show();
    report(QStringLiteral("window opened"));
    return window;
}

void BrowserWindow::closeEvent(QCloseEvent* event) {
    // The band goes before the window's widgets: it closes its window and lets go of the
    // site while the band area is still there.
    bandArea_->closeBand();
    event->accept();
}

void BrowserWindow::setReporter(Reporter reporter_) {
    reporter() = std::move(reporter_);
}

void BrowserWindow::report(const QString& line) {
    if (reporter())
        reporter()(line);
}

} // namespace fetchora::host
