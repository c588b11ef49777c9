// The band area of a browser window: the strip above the page where each registered
// toolbar band is created, given its site, docked and shown, and where it is closed and
// released again when the window goes. It shows the band's context menu, hands key
// presses to the band that holds the focus, and says what went wrong when a band cannot
// be docked.
#pragma once

#include "platform/com/com.h"

#include <QWidget>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QLabel;
class QVBoxLayout;

namespace fetchora::host {

class BandLibrary;
class BrowserPage;
struct DockedBand;
struct RegisteredBand;

class BandArea final : public QWidget {
public:
    // The text shown when no band is registered.
    static const char* const kNoBandText;
    // The text shown when bands are registered but none could be docked.
    static const char* const kNoBandDockedText;

    BandArea(BandLibrary* library, BrowserPage& page, QWidget* parent);
    ~BandArea() override;

    // Creates and docks every registered band; says why when there is none.
    void dock();
    // Closes every band (CloseDW) and releases it; the area then shows nothing.
    void closeBand();

    // The windows of the docked bands, in the order of the toolbar list.
    std::vector<QWidget*> bandWindows() const;
    // What the area says instead of (or besides) a band; empty when all is well.
    QString message() const;

    // Shows the context menu of the band at pos (in this widget): the band fills it, the
    // user chooses, the band is told the choice.
    void showBandMenu(const QPoint& pos);
    // Hands a key event on a widget of a band to that band; true when the band took it
    // or the host moved the focus on (Tab).
    bool forwardKey(QWidget* target, const QKeyEvent& key);

    // Called when a band answers S_FALSE to Tab: the focus leaves the band area.
    void setFocusLeaves(std::function<void()> handler) { focusLeaves_ = std::move(handler); }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool dockOne(const RegisteredBand& registered);
    // Records a failure: once on stderr and in the area.
    void problem(const std::string& text);
    DockedBand* bandAt(const QPoint& pos) const;
    DockedBand* bandOf(QWidget* widget) const;

    BandLibrary* library_;
    BrowserPage& page_;
    QVBoxLayout* layout_;
    QLabel* message_;
    std::vector<std::unique_ptr<DockedBand>> bands_;
    std::vector<std::string> problems_;
    std::function<void()> focusLeaves_;
    bool forwarding_ = false;
};

} // namespace fetchora::host
