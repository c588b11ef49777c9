// The desktop's message box and folder browser as Qt dialogs, the scriptable modal
// showing of forms, and the lenient conversions between 8-bit text and QString.
#include "platform/qt/desktop.h"

#include "platform/text.h"
#include "platform/ui.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDialog>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>

namespace fetchora::ui {

namespace {

MessageResult desktopMessageBox(const MessageRequest& request) {
    QMessageBox box(QApplication::activeWindow());
    switch (request.icon) {
    case MessageIcon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case MessageIcon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    case MessageIcon::Error:
        box.setIcon(QMessageBox::Critical);
        break;
    case MessageIcon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    }
    box.setWindowTitle(toQString(request.title));
    box.setText(toQString(request.text));
    if (request.buttons == MessageButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.setEscapeButton(QMessageBox::Cancel);
    } else {
        box.setStandardButtons(QMessageBox::Ok);
    }
    return box.exec() == QMessageBox::Ok ? MessageResult::Ok : MessageResult::Cancel;
}

std::optional<std::string> desktopPickFolder(const std::string& title, const std::string& start) {
    const QString folder = QFileDialog::getExistingDirectory(QApplication::activeWindow(),
                                                             toQString(title), toQString(start));
    if (folder.isEmpty())
        return std::nullopt;
    return fromQString(folder);
}

ModalHook& modalHook() {
    static ModalHook hook;
    return hook;
}

} // namespace

void installDesktopUi() {
    const Hooks current = currentHooks();
    Hooks desktop;
    if (!current.messageBox)
        desktop.messageBox = desktopMessageBox;
    if (!current.beep)
        desktop.beep = [] { QApplication::beep(); };
    if (!current.openAddress)
        desktop.openAddress = [](const std::string& address) {
            // A desktop without a program for the address (no browser, no file manager)
            // would otherwise swallow the click without a word.
            if (!QDesktopServices::openUrl(QUrl(toQString(address))))
                messageBox({MessageIcon::Error, "Error",
                            "No program on this desktop can show " + address + ".",
                            MessageButtons::Ok});
        };
    if (!current.pickFolder)
        desktop.pickFolder = desktopPickFolder;
    installHooks(desktop);
}

int showModal(QDialog& dialog) {
    if (modalHook())
        return modalHook()(dialog);
    return dialog.exec();
}

ModalHook setModalHook(ModalHook hook) {
    ModalHook previous = std::move(modalHook());
    modalHook() = std::move(hook);
    return previous;
}

QString toQString(std::string_view bytes) {
    const std::string utf8 = text::toDisplayUtf8(bytes);
    return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

std::string fromQString(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    return std::string(utf8.constData(), static_cast<size_t>(utf8.size()));
}

} // namespace fetchora::ui
