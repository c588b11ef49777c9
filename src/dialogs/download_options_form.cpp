// The destination folder dialog: its layout, the acceptance and creation of the folder,
// and the folder browser that keeps the other windows disabled while it is up.
#include "dialogs/download_options_form.h"

#include "platform/files.h"
#include "platform/format.h"
#include "platform/qt/desktop.h"
#include "platform/ui.h"
#include "util/form_builder.h"
#include "util/link_label.h"
#include "util/messages.h"
#include "util/settings.h"

#include <QApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace fetchora {

TDownloadOptionsForm::TDownloadOptionsForm(QWidget* parent) : QDialog(parent) {
    using forms::named;
    forms::setUpForm(*this, "DownloadOptionsForm", "Select Destination Folder", {510, 205},
                     forms::Border::DialogWithoutIcons);

    auto* header = new THeaderPanel(
        QStringLiteral("Select a destination folder"),
        QStringLiteral(
            "Create a new or select an existing folder. All files will download to this folder."),
        this);

    Label1 = named<QLabel>(this, "Label1", QStringLiteral("Folder"));
    CreateLabel = named<TLinkLabel>(this, "CreateLabel", QStringLiteral("Create this folder"));
    BrowseBtn = named<TLinkLabel>(this, "BrowseBtn", QStringLiteral("Browse"));
    DestEdit = named<QLineEdit>(this, "DestEdit");
    FileLabel = named<QLabel>(this, "FileLabel");
    Button1 = named<QPushButton>(this, "Button1", QStringLiteral("OK"));
    Button1->setDefault(true);
    Button2 = named<QPushButton>(this, "Button2", QStringLiteral("Cancel"));

    auto* links = new QHBoxLayout;
    links->addWidget(Label1);
    links->addStretch(1);
    links->addWidget(CreateLabel);
    links->addSpacing(12);
    links->addWidget(BrowseBtn);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(FileLabel, 1);
    buttons->addWidget(Button1);
    buttons->addWidget(Button2);

    auto* body = new QVBoxLayout;
    body->setContentsMargins(12, 8, 12, 12);
    body->addLayout(links);
    body->addWidget(DestEdit);
    body->addStretch(1);
    body->addLayout(buttons);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(header);
    layout->addLayout(body, 1);

    forms::connectHandler(BrowseBtn, &TLinkLabel::clicked, this,
                          &TDownloadOptionsForm::BrowseBtnClick);
    forms::connectHandler(CreateLabel, &TLinkLabel::clicked, this,
                          &TDownloadOptionsForm::CreateLabelClick);
    forms::connectHandler(Button1, &QPushButton::clicked, this,
                          &TDownloadOptionsForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);
}

std::string TDownloadOptionsForm::destText() const {
    return ui::fromQString(DestEdit->text());
}

void TDownloadOptionsForm::BrowseBtnClick() {
    const std::optional<std::string> folder = PickFolder("Select folder");
    if (folder)
        DestEdit->setText(ui::toQString(*folder));
}

void TDownloadOptionsForm::Button1Click() {
    const std::string folder = destText();
    if (!folder.empty() && files::directoryExists(folder)) {
        writeSettingText(settings::kFolder, folder);
        accept();
        return;
    }
    showInformation(format("%s does not exist. Press create this folder.", folder.c_str()));
}

void TDownloadOptionsForm::CreateLabelClick() {
    const std::string folder = destText();
    if (!folder.empty() && files::directoryExists(folder)) {
        showInformation(format("%s exists.", folder.c_str()));
        return;
    }
    if (!folder.empty() && files::createDirectory(folder)) {
        writeSettingText(settings::kFolder, folder);
        showInformation(format("%s created.", folder.c_str()));
        return;
    }
    showInformation(format("Unable to create %s. Change folder.", folder.c_str()));
}

std::optional<std::string> TDownloadOptionsForm::PickFolder(const std::string& title) {
    // The other top-level windows stay disabled while the browser is up.
    QWidgetList disabled;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->isVisible() && window->isEnabled() && !window->isModal()) {
            window->setEnabled(false);
            disabled.append(window);
        }
    }
    std::optional<std::string> folder = ui::pickFolder(title, "");
    for (QWidget* window : disabled)
        window->setEnabled(true);
    return folder;
}

} // namespace fetchora
