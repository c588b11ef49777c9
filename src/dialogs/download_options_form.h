// The "Select Destination Folder" dialog shown before a transfer run: the folder that the
// queued files are written into, typed, browsed for or created, stored in the setting
// Folder as soon as it is accepted or created.
#pragma once

#include <QDialog>

#include <optional>
#include <string>

class QLabel;
class QLineEdit;
class QPushButton;

namespace fetchora {

class TLinkLabel;

class TDownloadOptionsForm final : public QDialog {
    Q_OBJECT

public:
    explicit TDownloadOptionsForm(QWidget* parent = nullptr);

    QLabel* Label1 = nullptr;
    TLinkLabel* CreateLabel = nullptr;
    TLinkLabel* BrowseBtn = nullptr;
    QLineEdit* DestEdit = nullptr;
    QLabel* FileLabel = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;

    void BrowseBtnClick();
    void Button1Click();
    void CreateLabelClick();

    // The desktop's folder browser with the title; the chosen folder's full path, or
    // nothing when the user cancelled.
    static std::optional<std::string> PickFolder(const std::string& title);

private:
    std::string destText() const;
};

} // namespace fetchora
