// The settings dialog: its two pages, the loading and saving of the settings, the
// connection test through the proxy, and the help page that the about page links to.
#include "dialogs/download_settings_form.h"

#include "http/http_client.h"
#include "platform/qt/desktop.h"
#include "platform/report.h"
#include "platform/ui.h"
#include "util/form_builder.h"
#include "util/library_path.h"
#include "util/link_label.h"
#include "util/messages.h"
#include "util/settings.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QTabWidget>
#include <QUrl>

#include <algorithm>
#include <exception>

namespace fetchora {

namespace {

// A well-known page that still answers over plain HTTP.
constexpr const char* kDefaultTestPage = "http://example.com/";

std::string& testPageOverride() {
    static std::string address;
    return address;
}

QString qs(const char* text) {
    return QString::fromUtf8(text);
}

// A label of its natural size at x, y.
QLabel* label(QWidget* parent, const char* text, int x, int y) {
    auto* item = new QLabel(qs(text), parent);
    item->move(x, y);
    item->adjustSize();
    return item;
}

// The product icon: a green disc with a white arrow pointing down onto a bar.
QPixmap productIcon() {
    QPixmap pixmap(32, 32);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(60, 150, 60));
    painter.drawEllipse(1, 1, 30, 30);
    painter.setBrush(Qt::white);
    painter.drawRect(13, 6, 6, 10);
    QPainterPath arrow;
    arrow.moveTo(8, 15);
    arrow.lineTo(24, 15);
    arrow.lineTo(16, 23);
    arrow.closeSubpath();
    painter.drawPath(arrow);
    painter.drawRect(8, 24, 16, 2);
    return pixmap;
}

} // namespace

std::string helpPagePath() {
    return pathInLibraryFolder("help/index.html");
}

std::string helpPageAddress() {
    return ui::fromQString(QUrl::fromLocalFile(ui::toQString(helpPagePath())).toString());
}

TDownloadSettingsForm::TDownloadSettingsForm(QWidget* parent) : QDialog(parent) {
    // The frame is 458 × 453 pixels outside; this is its client area.
    forms::setUpForm(*this, "DownloadSettingsForm", "Fetchora Options", {450, 419},
                     forms::Border::DialogWithoutIcons);

    PageControl1 = forms::component<QTabWidget>(this, "PageControl1", 0, 0, 450, 369);
    createGeneralPage();
    createAboutPage();

    Button1 = forms::component<QPushButton>(this, "Button1", 280, 384, 75, 25);
    Button1->setText(qs("OK"));
    Button2 = forms::component<QPushButton>(this, "Button2", 360, 384, 75, 25);
    Button2->setText(qs("Cancel"));
    // Neither is a default or cancel button: Enter and Esc leave the dialog open.
    Button1->setAutoDefault(false);
    Button2->setAutoDefault(false);
    forms::connectHandler(Button1, &QPushButton::clicked, this,
                          &TDownloadSettingsForm::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &QDialog::reject);

    createHttpClient();
    guarded([this] { FormCreate(); });
}

TDownloadSettingsForm::~TDownloadSettingsForm() = default;

void TDownloadSettingsForm::createGeneralPage() {
    GeneralPage = forms::named<QWidget>(PageControl1, "GeneralPage");
    PageControl1->addTab(GeneralPage, qs("General"));

    auto* intro = new QLabel(qs("My file extensions - these file types are added to the list "
                                "automatically when dropped from Internet Explorer"),
                             GeneralPage);
    intro->setWordWrap(true);
    intro->setGeometry(16, 8, 368, 26);
    TypeEdit = forms::component<QLineEdit>(GeneralPage, "TypeEdit", 16, 40, 409, 21);
    AllCB = forms::component<QCheckBox>(GeneralPage, "AllCB", 16, 72, 193, 25);
    AllCB->setText(qs("Beep when download is completed"));
    // A wider fallback font may need more room than the box's own width.
    AllCB->resize(std::max(193, AllCB->sizeHint().width()), 25);

    ProxyGroup = forms::component<QGroupBox>(GeneralPage, "ProxyGroup", 8, 112, 417, 97);
    ProxyGroup->setTitle(
        qs("Proxy Settings - Enter if you are using a proxy, otherwise leave blank"));
    label(ProxyGroup, "Proxy Server", 16, 24);
    ServEdit = forms::component<QLineEdit>(ProxyGroup, "ServEdit", 112, 24, 225, 21);
    label(ProxyGroup, "Proxy Port", 16, 48);
    PortEdit = forms::component<QLineEdit>(ProxyGroup, "PortEdit", 112, 48, 65, 21);
    TestBtn = forms::named<TLinkLabel>(ProxyGroup, "TestBtn", qs("Test connection"));
    TestBtn->move(208, 56);
    TestBtn->adjustSize();
    forms::connectHandler(TestBtn, &TLinkLabel::clicked, this,
                          &TDownloadSettingsForm::TestBtnClick);

    setTabOrder(TypeEdit, AllCB);
    setTabOrder(AllCB, ServEdit);
    setTabOrder(ServEdit, PortEdit);
}

void TDownloadSettingsForm::createAboutPage() {
    AboutPage = forms::named<QWidget>(PageControl1, "AboutPage");
    PageControl1->addTab(AboutPage, qs("About"));

    auto* icon = new QLabel(AboutPage);
    icon->setGeometry(24, 24, 32, 32);
    icon->setPixmap(productIcon());
    label(AboutPage, "Pullmarq Toolbar by", 80, 24);
    // Fetchora has no web site of its own: the link shows the help page installed with it.
    ProductLink = forms::named<TLinkLabel>(AboutPage, "ProductLink", qs("the Fetchora project"));
    ProductLink->move(200, 24);
    ProductLink->adjustSize();
    ProductLink->setToolTip(ui::toQString(helpPageAddress()));
    forms::connectHandler(ProductLink, &TLinkLabel::clicked, this,
                          &TDownloadSettingsForm::ProductLinkClick);
    label(AboutPage, "Version 1.0", 80, 48);
    auto* thanks = new QLabel(qs("Thank you for using Pullmarq Toolbar. I hope you find the "
                                 "program useful. I'd like to hear your feedback. Happy "
                                 "downloading...  "),
                              AboutPage);
    thanks->setWordWrap(true);
    thanks->setGeometry(24, 104, 279, 39);
}

void TDownloadSettingsForm::createHttpClient() {
    HttpClient1 = makeFormHttpClient("Mozilla/4.0 (compatible; Fetchora)");
    // No ReceiveStream: the test's body is discarded.
}

void TDownloadSettingsForm::FormCreate() {
    PageControl1->setCurrentWidget(GeneralPage);
    TypeEdit->setText(ui::toQString(readSettingText(settings::kTypes, "")));
    AllCB->setChecked(readSettingText(settings::kSound, "") == settings::kSoundOn);
    ServEdit->setText(ui::toQString(readSettingText(settings::kProxyServer, "")));
    PortEdit->setText(ui::toQString(readSettingText(settings::kProxyPort, "")));
}

void TDownloadSettingsForm::Button1Click() {
    writeSettingText(settings::kTypes, ui::fromQString(TypeEdit->text()));
    writeSettingText(settings::kSound,
                     AllCB->isChecked() ? settings::kSoundOn : settings::kSoundOff);
    writeSettingText(settings::kProxyServer, ui::fromQString(ServEdit->text()));
    writeSettingText(settings::kProxyPort, ui::fromQString(PortEdit->text()));
    accept();
}

void TDownloadSettingsForm::TestBtnClick() {
    const std::string server = ui::fromQString(ServEdit->text());
    const std::string port = ui::fromQString(PortEdit->text());
    if (server.empty() || port.empty()) {
        showInformation("Enter a server and port.");
        return;
    }
    // The link is disabled while a test waits, so a click cannot start another; should
    // the handler run all the same, the busy client refuses and the refusal shows as a
    // failed test, leaving the waiting request as it was.
    const bool outer = !testing_;
    if (outer) {
        HttpClient1->Proxy = server;
        HttpClient1->ProxyPort = port;
        HttpClient1->URL = TestPage();
        testing_ = true;
        closed_ = false;
        TestBtn->setEnabled(false);
    }
    std::string failure;
    bool failed = false;
    try {
        HttpClient1->Get();
    } catch (const std::exception& error) {
        failed = true;
        failure = error.what();
    }
    if (outer) {
        testing_ = false;
        TestBtn->setEnabled(true);
        // The user closed the dialog while waiting: its answer is no longer wanted.
        if (closed_)
            return;
    }
    if (failed)
        showError("Test failed.\r\n" + failure);
    else
        showInformation("Test passed.");
}

void TDownloadSettingsForm::ProductLinkClick() {
    ui::openAddress(helpPageAddress());
}

void TDownloadSettingsForm::done(int result) {
    if (testing_) {
        closed_ = true;
        HttpClient1->Abort();
    }
    QDialog::done(result);
}

void TDownloadSettingsForm::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

std::string TDownloadSettingsForm::TestPage() {
    const std::string& address = testPageOverride();
    return address.empty() ? std::string(kDefaultTestPage) : address;
}

void TDownloadSettingsForm::SetTestPage(const std::string& address) {
    testPageOverride() = address;
}

} // namespace fetchora
