// The settings dialog: loading and saving the settings, and the connection test through
// a proxy.
#include "dialogs/download_settings_form.h"

#include "http/http_client.h"
#include "platform/registry.h"
#include "support/loopback_server.h"
#include "support/sandbox.h"
#include "util/link_label.h"
#include "util/settings.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>
#include <vector>

namespace fetchora {
namespace {

using testing::Exchange;
using testing::LoopbackServer;
using testing::Sandbox;
using testing::ScriptedDesktop;

using Values = std::vector<std::pair<std::string, std::string>>;

// The values of the key in the order the hive holds them, which is the order they were
// first written.
Values valuesOf(const std::string& keyPath) {
    Values values;
    registry::HKEY key = nullptr;
    if (registry::RegOpenKeyEx(registry::HKEY_CURRENT_USER, keyPath, registry::KEY_READ, &key) != 0)
        return values;
    std::string name;
    std::string data;
    for (registry::DWORD i = 0; registry::RegEnumValue(key, i, &name, nullptr, &data) == 0; ++i)
        values.emplace_back(name, data);
    registry::RegCloseKey(key);
    return values;
}

QString qs(const std::string& text) {
    return QString::fromStdString(text);
}

void pressKey(QWidget* widget, Qt::Key key) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
}

void click(QWidget* widget) {
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &press);
    QCoreApplication::sendEvent(widget, &release);
}

class DownloadSettingsFormTest : public ::testing::Test {
protected:
    void SetUp() override { setSettingsKeyPath(settings::kKeyPath); }
    void TearDown() override { TDownloadSettingsForm::SetTestPage(""); }

    void store(const Values& values) {
        for (const auto& [name, text] : values)
            writeSettingText(name, text);
    }

    Sandbox sandbox_;
    ScriptedDesktop desktop_;
};

TEST_F(DownloadSettingsFormTest, LoadsTheFourSettingsInOrderOnTheGeneralPage) {
    TDownloadSettingsForm form;
    EXPECT_EQ(form.windowTitle().toStdString(), "Fetchora Options");
    EXPECT_EQ(form.PageControl1->currentWidget(), form.GeneralPage);
    EXPECT_EQ(form.HttpClient1->Agent, "Mozilla/4.0 (compatible; Fetchora)");
    // On a clean key each read stores its empty default, in the order of reading.
    EXPECT_EQ(valuesOf(settings::kKeyPath),
              (Values{{"Types", ""}, {"Sound", ""}, {"ProxyServer", ""}, {"ProxyPort", ""}}));

    store({{"Types", " zip , PDF"},
           {"Sound", "Y"},
           {"ProxyServer", "proxy.lan"},
           {"ProxyPort", "3128"}});
    TDownloadSettingsForm loaded;
    EXPECT_EQ(loaded.TypeEdit->text().toStdString(), " zip , PDF");
    EXPECT_TRUE(loaded.AllCB->isChecked());
    EXPECT_EQ(loaded.ServEdit->text().toStdString(), "proxy.lan");
    EXPECT_EQ(loaded.PortEdit->text().toStdString(), "3128");
    EXPECT_TRUE(desktop_.messages.empty());
}

TEST_F(DownloadSettingsFormTest, OkStoresTheFieldsAsTypedInOrder) {
    TDownloadSettingsForm form;
    form.TypeEdit->setText(qs(" mp3, ogg ,"));
    form.AllCB->setChecked(true);
    form.ServEdit->setText(qs(" proxy "));
    form.PortEdit->setText(qs("80a"));
    // A key that holds nothing yet shows the order of the writes.
    setSettingsKeyPath("Software\\Saved");
    form.Button1Click();
    EXPECT_EQ(form.result(), QDialog::Accepted);
    EXPECT_EQ(valuesOf("Software\\Saved"), (Values{{"Types", " mp3, ogg ,"},
                                                   {"Sound", "Y"},
                                                   {"ProxyServer", " proxy "},
                                                   {"ProxyPort", "80a"}}));
}

TEST_F(DownloadSettingsFormTest, OnlyAnUpperCaseYChecksTheBeepAndOkStoresNForTheRest) {
    for (const char* sound : {"N", "", "y"}) {
        store({{"Sound", sound}});
        TDownloadSettingsForm form;
        EXPECT_FALSE(form.AllCB->isChecked()) << '"' << sound << '"';
        form.Button1Click();
        EXPECT_EQ(readSettingText("Sound", "unset"), "N") << '"' << sound << '"';
    }
}

TEST_F(DownloadSettingsFormTest, CancelAndEscLeaveTheStoreUnchanged) {
    const Values before{{"Types", "zip"}, {"Sound", "Y"}, {"ProxyServer", "a"}, {"ProxyPort", "1"}};
    store(before);
    TDownloadSettingsForm form;
    form.show();
    form.TypeEdit->setText(qs("other"));
    form.AllCB->setChecked(false);
    form.ServEdit->setText(qs("b"));
    form.PortEdit->setText(qs("2"));
    pressKey(&form, Qt::Key_Escape);
    EXPECT_TRUE(form.isVisible()) << "Esc does not close the dialog";
    form.Button2->click();
    EXPECT_FALSE(form.isVisible());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_EQ(valuesOf(settings::kKeyPath), before);
}

TEST_F(DownloadSettingsFormTest, TestNeedsBothServerAndPortAndMakesNoRequestWithout) {
    LoopbackServer proxy;
    TDownloadSettingsForm form;
    form.ServEdit->setText(qs("127.0.0.1"));
    form.TestBtnClick();
    form.ServEdit->setText(qs(""));
    form.PortEdit->setText(qs(proxy.portText()));
    form.TestBtnClick();
    ASSERT_EQ(desktop_.messages.size(), 2u);
    for (const ui::MessageRequest& message : desktop_.messages) {
        EXPECT_EQ(message.text, "Enter a server and port.");
        EXPECT_EQ(message.title, "Information");
    }
    EXPECT_EQ(proxy.connections(), 0);
}

TEST_F(DownloadSettingsFormTest, TestAsksTheProxyForTheTestPageWithoutSavingIt) {
    LoopbackServer proxy;
    proxy.script({Exchange::reply("HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nok")});
    TDownloadSettingsForm::SetTestPage("http://test.example/page.html");
    TDownloadSettingsForm form;
    form.ServEdit->setText(qs("127.0.0.1"));
    form.PortEdit->setText(qs(proxy.portText()));
    form.TestBtnClick();
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>{"Test passed."});
    ASSERT_EQ(proxy.requests().size(), 1u);
    EXPECT_EQ(proxy.requests()[0].rfind("GET http://test.example/page.html HTTP/1.0\r\n", 0), 0u)
        << proxy.requests()[0];
    EXPECT_NE(proxy.requests()[0].find("User-Agent: Mozilla/4.0 (compatible; Fetchora)\r\n"),
              std::string::npos);
    EXPECT_EQ(readSettingText("ProxyServer", "unset"), "");
    EXPECT_EQ(readSettingText("ProxyPort", "unset"), "");
}

TEST_F(DownloadSettingsFormTest, AnErrorAnswerAndAnUnknownHostFailWithTheClientsMessage) {
    LoopbackServer proxy;
    proxy.script({Exchange::reply("HTTP/1.0 502 Bad Gateway\r\nContent-Length: 0\r\n\r\n")});
    TDownloadSettingsForm form;
    form.ServEdit->setText(qs("127.0.0.1"));
    form.PortEdit->setText(qs(proxy.portText()));
    form.TestBtnClick();
    form.ServEdit->setText(qs("no-such-host.invalid"));
    form.PortEdit->setText(qs("3128"));
    form.TestBtnClick();
    ASSERT_EQ(desktop_.messages.size(), 2u);
    EXPECT_EQ(desktop_.messages[0].text, "Test failed.\r\nBad Gateway");
    EXPECT_EQ(desktop_.messages[0].title, "Error");
    EXPECT_EQ(desktop_.messages[0].icon, ui::MessageIcon::Error);
    EXPECT_EQ(desktop_.messages[1].text, "Test failed.\r\n" + form.HttpClient1->ReasonPhrase());
    EXPECT_FALSE(form.HttpClient1->ReasonPhrase().empty());
    // The fields keep what the user typed.
    EXPECT_EQ(form.ServEdit->text().toStdString(), "no-such-host.invalid");
}

TEST_F(DownloadSettingsFormTest, AProxyAskingForAuthorizationPasses) {
    LoopbackServer proxy;
    proxy.script({Exchange::reply("HTTP/1.0 407 Proxy Authentication Required\r\n"
                                  "Content-Length: 0\r\n\r\n")});
    TDownloadSettingsForm form;
    form.ServEdit->setText(qs("127.0.0.1"));
    form.PortEdit->setText(qs(proxy.portText()));
    form.TestBtnClick();
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>{"Test passed."});
}

TEST_F(DownloadSettingsFormTest, ASecondTestWhileOneWaitsIsRefusedAndTheFirstStillEnds) {
    LoopbackServer proxy;
    proxy.script({Exchange::pieces({"HTTP/1.0 200 OK\r\n", "Content-Length: 0\r\n\r\n"}, 600)});
    TDownloadSettingsForm form;
    form.show();
    form.ServEdit->setText(qs("127.0.0.1"));
    form.PortEdit->setText(qs(proxy.portText()));
    bool sawWaiting = false;
    QTimer::singleShot(200, &form, [&] {
        sawWaiting = form.testing() && !form.TestBtn->isEnabled();
        // A click on the disabled link does nothing; the handler itself is refused.
        click(form.TestBtn);
        EXPECT_TRUE(desktop_.messages.empty());
        form.TestBtnClick();
    });
    form.TestBtnClick();
    EXPECT_TRUE(sawWaiting);
    EXPECT_EQ(desktop_.texts(),
              (std::vector<std::string>{"Test failed.\r\nHTTP component HttpClient1 is busy",
                                        "Test passed."}));
    EXPECT_EQ(proxy.connections(), 1);
    EXPECT_TRUE(form.TestBtn->isEnabled());
    EXPECT_FALSE(form.testing());
}

TEST_F(DownloadSettingsFormTest, ClosingWhileATestWaitsEndsItWithoutAResult) {
    LoopbackServer proxy;
    proxy.script({Exchange::holdAfter("")});
    TDownloadSettingsForm form;
    form.show();
    form.ServEdit->setText(qs("127.0.0.1"));
    form.PortEdit->setText(qs(proxy.portText()));
    QTimer::singleShot(200, &form, [&] { form.Button2->click(); });
    form.TestBtnClick();
    EXPECT_TRUE(desktop_.messages.empty());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_TRUE(form.TestBtn->isEnabled());
}

TEST_F(DownloadSettingsFormTest, TestThroughARealProxyToARealServerPasses) {
    const char* proxyPort = std::getenv("FETCHORA_PROXY_PORT");
    const char* nginxPort = std::getenv("FETCHORA_NGINX_PORT");
    if (proxyPort == nullptr || *proxyPort == '\0' || nginxPort == nullptr || *nginxPort == '\0')
        GTEST_SKIP() << "tinyproxy and nginx are not running: start them with "
                        "source scripts/peers.sh && start_peers";
    TDownloadSettingsForm::SetTestPage(std::string("http://127.0.0.1:") + nginxPort +
                                       "/index.html");
    TDownloadSettingsForm form;
    form.ServEdit->setText(qs("127.0.0.1"));
    form.PortEdit->setText(qs(proxyPort));
    form.TestBtnClick();
    EXPECT_EQ(desktop_.texts(), std::vector<std::string>{"Test passed."});

    TDownloadSettingsForm::SetTestPage(std::string("http://127.0.0.1:") + nginxPort +
                                       "/missing.html");
    form.TestBtnClick();
    ASSERT_EQ(desktop_.messages.size(), 2u);
    EXPECT_EQ(desktop_.messages[1].text, "Test failed.\r\nNot Found");
}

TEST_F(DownloadSettingsFormTest, TheProductLinkOpensTheInstalledHelpPage) {
    TDownloadSettingsForm form;
    form.ProductLinkClick();
    EXPECT_EQ(desktop_.openedAddresses,
              std::vector<std::string>{"file://" + sandbox_.libraryPath("help/index.html")});
    EXPECT_EQ(TDownloadSettingsForm::TestPage(), "http://example.com/");
}

} // namespace
} // namespace fetchora
