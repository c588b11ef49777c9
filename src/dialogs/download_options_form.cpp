#include "dialogs/download_options_form.h"

#include "platform/files.h"
#include "platform/format.h"
#include "platform/qt/desktop.h"
#include "platform/report.h"
#include "platform/ui.h"
#include "util/form_style.h"
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
    setObjectName(QStringLiteral("DownloadOptionsForm"));
    setWindowTitle(QStringLiteral("Select Destination Folder"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::CustomizeWindowHint |
                   Qt::WindowTitleHint);
    setFont(forms::tahoma(11));
    setFixedSize(510, 205);

    auto* header = new THeaderPanel(
        QStringLiteral("Select a destination folder"),
        QStringLiteral(
            "Create a new or select an existing folder. All files will download to this folder."),
        this);

    Label1 = new QLabel(QStringLiteral("Folder"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    CreateLabel = new TLinkLabel(QStringLiteral("Create this folder"), this);
    CreateLabel->setObjectName(QStringLiteral("CreateLabel"));
    BrowseBtn = new TLinkLabel(QStringLiteral("Browse"), this);
    BrowseBtn->setObjectName(QStringLiteral("BrowseBtn"));
    DestEdit = new QLineEdit(this);
    DestEdit->setObjectName(QStringLiteral("DestEdit"));
    FileLabel = new QLabel(this);
    FileLabel->setObjectName(QStringLiteral("FileLabel"));
    Button1 = new QPushButton(QStringLiteral("OK"), this);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setDefault(true);
    Button2 = new QPushButton(QStringLiteral("Cancel"), this);
    Button2->setObjectName(QStringLiteral("Button2"));

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

    connect(BrowseBtn, &TLinkLabel::clicked, this,
            [this] { guarded([this] { BrowseBtnClick(); }); });
    connect(CreateLabel, &TLinkLabel::clicked, this,
            [this] { guarded([this] { CreateLabelClick(); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { guarded([this] { Button1Click(); }); });
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
