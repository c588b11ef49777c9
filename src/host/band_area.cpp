// Docking, menus, keys and closing of the bands in a browser window's band area.
#include "host/band_area.h"

#include "host/band_library.h"
#include "host/band_site.h"
#include "platform/com/com_ptr.h"
#include "platform/com/shell_interfaces.h"
#include "platform/resources/track_popup_menu.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace fetchora::host {

using namespace fetchora::com;

// One band in this area, with the references the host holds on it.
struct DockedBand {
    ComPtr<IDeskBand> band;
    ComPtr<IInputObject> input;
    ComPtr<IContextMenu> menu;
    ComPtr<BandSite> site;
    QPointer<QWidget> window;
    QLabel* title = nullptr;
    std::string name;
};

namespace {

// The command ids a band's context menu may use.
constexpr UINT kFirstMenuId = 1;
constexpr UINT kLastMenuId = 0x7FFF;

// The Windows virtual key of a Qt key, 0 for keys that have none here.
WPARAM virtualKey(int key) {
    switch (key) {
    case Qt::Key_Backspace:
        return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return VK_RETURN;
    case Qt::Key_Escape:
        return VK_ESCAPE;
    case Qt::Key_Space:
        return VK_SPACE;
    case Qt::Key_End:
        return VK_END;
    case Qt::Key_Home:
        return VK_HOME;
    case Qt::Key_Left:
        return VK_LEFT;
    case Qt::Key_Up:
        return VK_UP;
    case Qt::Key_Right:
        return VK_RIGHT;
    case Qt::Key_Down:
        return VK_DOWN;
    case Qt::Key_Delete:
        return VK_DELETE;
    default:
        break;
    }
    if ((key >= Qt::Key_0 && key <= Qt::Key_9) || (key >= Qt::Key_A && key <= Qt::Key_Z))
        return static_cast<WPARAM>(key);
    if (key >= Qt::Key_F1 && key <= Qt::Key_F24)
        return VK_F1 + static_cast<WPARAM>(key - Qt::Key_F1);
    return 0;
}

// The title of a band-information record, which a band may fill to the last character
// without a terminating zero.
QString titleOf(const DESKBANDINFO& info) {
    const char16_t* begin = std::begin(info.wszTitle);
    const char16_t* end = std::find(begin, std::end(info.wszTitle), u'\0');
    return QString::fromUtf16(begin, end - begin);
}

} // namespace

const char* const BandArea::kNoBandText =
    "No toolbar band is registered. Register one with: fetchora-regsvr /path/to/Fetchora.so";
const char* const BandArea::kNoBandDockedText =
    "No toolbar band could be shown. Register one again with: fetchora-regsvr "
    "/path/to/Fetchora.so";

BandArea::BandArea(BandLibrary* library, BrowserPage& page, QWidget* parent)
    : QWidget(parent), library_(library), page_(page), layout_(new QVBoxLayout(this)),
      message_(new QLabel(this)) {
    setObjectName(QStringLiteral("bandArea"));
    layout_->setContentsMargins(2, 2, 2, 2);
    layout_->setSpacing(2);
    message_->setObjectName(QStringLiteral("bandMessage"));
    message_->setWordWrap(true);
    message_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    message_->hide();
    layout_->addWidget(message_);
    qApp->installEventFilter(this);
}

BandArea::~BandArea() {
    closeBand();
}

void BandArea::dock() {
    if (library_ == nullptr) {
        problem(kNoBandText);
        return;
    }
    std::vector<std::string> listProblems;
    const std::vector<RegisteredBand> registered = BandLibrary::registeredBands(listProblems);
    for (const std::string& text : listProblems)
        problem(text);
    for (const RegisteredBand& band : registered)
        dockOne(band);
    if (!bands_.empty())
        return;
    if (listProblems.empty() && registered.empty())
        problem(kNoBandText);
    else
        problem(kNoBandDockedText);
}

bool BandArea::dockOne(const RegisteredBand& registered) {
    auto docked = std::make_unique<DockedBand>();
    docked->name = guidToString(registered.clsid);
    IDeskBand* created = nullptr;
    const std::string failure = library_->createBand(registered, &created);
    if (!failure.empty()) {
        problem("The toolbar band could not be created: " + failure);
        return false;
    }
    docked->band = ComPtr<IDeskBand>::adopt(created);
    auto failed = [&](const std::string& call, HRESULT result) {
        problem("The toolbar band " + docked->name + " failed: " + call + " returned " +
                describeResult(result));
        return false;
    };

    const auto withSite = docked->band.as<IObjectWithSite>(IID_IObjectWithSite);
    if (!withSite)
        return failed("QueryInterface(IObjectWithSite)", E_NOINTERFACE);
    docked->site = ComPtr<BandSite>::adopt(BandSite::create(this, &page_, nullptr));
    HRESULT result = withSite->SetSite(static_cast<IInputObjectSite*>(docked->site.get()));
    if (FAILED(result)) {
        docked->site->detach();
        return failed("SetSite", result);
    }
    // From here on a failure closes the band again before it is released.
    auto undo = [&](const std::string& call, HRESULT code) {
        docked->band->CloseDW(0);
        withSite->SetSite(nullptr);
        docked->site->detach();
        return failed(call, code);
    };

    HWND window = nullptr;
    result = docked->band->GetWindow(&window);
    if (FAILED(result) || window == nullptr)
        return undo("GetWindow", FAILED(result) ? result : E_POINTER);
    DESKBANDINFO info;
    info.dwMask = DBIM_MINSIZE | DBIM_MAXSIZE | DBIM_INTEGRAL | DBIM_ACTUAL | DBIM_TITLE |
                  DBIM_MODEFLAGS | DBIM_BKCOLOR;
    result = docked->band->GetBandInfo(0, DBIF_VIEWMODE_NORMAL, &info);
    if (FAILED(result))
        return undo("GetBandInfo", result);

    docked->window = window;
    auto* row = new QHBoxLayout;
    row->setSpacing(4);
    const QString title = (info.dwMask & DBIM_TITLE) != 0 ? titleOf(info) : QString();
    if (!title.isEmpty()) {
        docked->title = new QLabel(title, this);
        docked->title->setObjectName(QStringLiteral("bandTitle"));
        // Level with the first row of the band, as a browser shows a band title.
        docked->title->setContentsMargins(2, 8, 2, 0);
        row->addWidget(docked->title, 0, Qt::AlignTop);
    }
    window->setToolTip(title);
    const int minWidth = (info.dwMask & DBIM_MINSIZE) != 0 ? std::max(0, info.ptMinSize.x) : 0;
    const int minHeight = (info.dwMask & DBIM_MINSIZE) != 0 ? std::max(0, info.ptMinSize.y) : 0;
    int height = (info.dwMask & DBIM_ACTUAL) != 0 ? info.ptActual.y : 0;
    height = std::max(height, minHeight);
    window->setMinimumSize(minWidth, minHeight);
    if (height > 0 && (info.dwModeFlags & DBIMF_VARIABLEHEIGHT) == 0)
        window->setFixedHeight(height);
    if ((info.dwMask & DBIM_BKCOLOR) != 0 && (info.dwModeFlags & DBIMF_BKCOLOR) != 0) {
        const COLORREF colour = info.crBkgnd;
        QPalette palette = window->palette();
        palette.setColor(QPalette::Window, QColor(static_cast<int>(colour & 0xFF),
                                                  static_cast<int>((colour >> 8) & 0xFF),
                                                  static_cast<int>((colour >> 16) & 0xFF)));
        window->setPalette(palette);
    }
    row->addWidget(window, 1);
    layout_->addLayout(row);

    result = docked->band->ShowDW(1);
    if (FAILED(result)) {
        layout_->removeItem(row);
        delete row;
        delete docked->title;
        return undo("ShowDW", result);
    }
    window->show();
    docked->input = docked->band.as<IInputObject>(IID_IInputObject);
    docked->menu = docked->band.as<IContextMenu>(IID_IContextMenu);
    std::fprintf(stderr, "fetchora: docked the toolbar band %s (%s) from %s\n", qPrintable(title),
                 docked->name.c_str(), registered.library.c_str());
    bands_.push_back(std::move(docked));
    return true;
}

void BandArea::closeBand() {
    // The bands go in the order a browser closes them: the window first (CloseDW), then
    // the site, then the references.
    for (auto& docked : bands_) {
        const HRESULT result = docked->band->CloseDW(0);
        if (FAILED(result))
            problem("The toolbar band " + docked->name + " failed: CloseDW returned " +
                    describeResult(result));
        if (const auto withSite = docked->band.as<IObjectWithSite>(IID_IObjectWithSite))
            withSite->SetSite(nullptr);
        docked->input.reset();
        docked->menu.reset();
        docked->band.reset();
        docked->site->detach();
        docked->site.reset();
        // A band that left its window in the area does not leave it there; it goes when
        // control returns to the event loop, since one of its handlers may be waiting in
        // a nested loop below this call.
        if (QWidget* left = docked->window.data();
            left != nullptr && left->parentWidget() == this) {
            left->hide();
            left->setParent(nullptr);
            left->deleteLater();
        }
        delete docked->title;
    }
    bands_.clear();
}

std::vector<QWidget*> BandArea::bandWindows() const {
    std::vector<QWidget*> windows;
    for (const auto& docked : bands_) {
        if (docked->window)
            windows.push_back(docked->window.data());
    }
    return windows;
}

QString BandArea::message() const {
    return message_->text();
}

void BandArea::problem(const std::string& text) {
    if (std::find(problems_.begin(), problems_.end(), text) != problems_.end())
        return;
    problems_.push_back(text);
    std::fprintf(stderr, "fetchora: %s\n", text.c_str());
    QStringList lines;
    for (const std::string& line : problems_)
        lines.push_back(QString::fromStdString(line));
    message_->setText(lines.join(QLatin1Char('\n')));
    message_->show();
}

DockedBand* BandArea::bandAt(const QPoint& pos) const {
    for (const auto& docked : bands_) {
        if (docked->window && docked->window->geometry().contains(pos))
            return docked.get();
    }
    return bands_.empty() ? nullptr : bands_.front().get();
}

DockedBand* BandArea::bandOf(QWidget* widget) const {
    for (const auto& docked : bands_) {
        if (docked->window &&
            (docked->window.data() == widget || docked->window->isAncestorOf(widget)))
            return docked.get();
    }
    return nullptr;
}

void BandArea::contextMenuEvent(QContextMenuEvent* event) {
    showBandMenu(event->pos());
    event->accept();
}

void BandArea::showBandMenu(const QPoint& pos) {
    DockedBand* docked = bandAt(pos);
    if (docked == nullptr)
        return;
    if (!docked->menu) {
        problem("The toolbar band " + docked->name + " has no context menu (IContextMenu).");
        return;
    }
    const resources::UniqueMenu menu(resources::CreatePopupMenu());
    HRESULT result =
        docked->menu->QueryContextMenu(menu.get(), 0, kFirstMenuId, kLastMenuId, CMF_NORMAL);
    if (FAILED(result)) {
        problem("The toolbar band " + docked->name + " failed: QueryContextMenu returned " +
                describeResult(result));
        return;
    }
    if (resources::GetMenuItemCount(menu.get()) <= 0) {
        problem("The toolbar band " + docked->name + " put no items into its context menu.");
        return;
    }
    const QPoint global = mapToGlobal(pos);
    const unsigned chosen =
        resources::TrackPopupMenu(menu.get(), resources::TPM_RETURNCMD | resources::TPM_RIGHTBUTTON,
                                  global.x(), global.y(), this);
    if (chosen < kFirstMenuId || chosen > kLastMenuId)
        return;
    CMINVOKECOMMANDINFO info;
    info.hwnd = this;
    info.lpVerb = commandVerb(static_cast<std::uint16_t>(chosen - kFirstMenuId));
    result = docked->menu->InvokeCommand(&info);
    if (FAILED(result))
        problem("The toolbar band " + docked->name + " failed: InvokeCommand returned " +
                describeResult(result));
}

bool BandArea::forwardKey(QWidget* target, const QKeyEvent& key) {
    DockedBand* docked = bandOf(target);
    if (docked == nullptr || !docked->input)
        return false;
    const WPARAM code = virtualKey(key.key());
    if (code == 0)
        return false;
    const bool press = key.type() == QEvent::KeyPress;
    MSG message;
    message.hwnd = target;
    message.message = press ? WM_KEYDOWN : WM_KEYUP;
    message.wParam = code;
    // Repeat count 1; a release has the previous-state and transition bits set.
    message.lParam = press ? 1 : static_cast<LPARAM>(0xC0000001u);
    forwarding_ = true;
    const HRESULT result = docked->input->TranslateAcceleratorIO(&message);
    forwarding_ = false;
    if (result == S_OK)
        return true;
    if (FAILED(result)) {
        problem("The toolbar band " + docked->name + " failed: TranslateAcceleratorIO returned " +
                describeResult(result));
        return false;
    }
    // S_FALSE: the host handles the key. Tab moves the focus out of the band.
    if (code == VK_TAB) {
        if (press && focusLeaves_)
            focusLeaves_();
        return true;
    }
    return false;
}

bool BandArea::eventFilter(QObject* watched, QEvent* event) {
    if (forwarding_ || (event->type() != QEvent::KeyPress && event->type() != QEvent::KeyRelease))
        return false;
    if (!watched->isWidgetType())
        return false;
    return forwardKey(static_cast<QWidget*>(watched), static_cast<const QKeyEvent&>(*event));
}

} // namespace fetchora::host
