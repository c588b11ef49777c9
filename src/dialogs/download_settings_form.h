// The "Fetchora Options" dialog: the accepted file types, the completion beep and the
// proxy, loaded from the settings when it opens and stored on OK, with a test of the
// proxy; a second page about the product. Also where the shipped help page lies.
#pragma once

#include <QDialog>

#include <memory>
#include <string>

class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;

namespace fetchora {

class THttpClient;
class TLinkLabel;

class TDownloadSettingsForm final : public QDialog {
    Q_OBJECT

public:
    explicit TDownloadSettingsForm(QWidget* parent = nullptr);
    ~TDownloadSettingsForm() override;

    QTabWidget* PageControl1 = nullptr;
    QWidget* GeneralPage = nullptr;
    QWidget* AboutPage = nullptr;
    QLineEdit* TypeEdit = nullptr;
    QCheckBox* AllCB = nullptr;
    QGroupBox* ProxyGroup = nullptr;
    QLineEdit* ServEdit = nullptr;
    QLineEdit* PortEdit = nullptr;
    TLinkLabel* TestBtn = nullptr;
    TLinkLabel* ProductLink = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    // Used by the connection test only; the body it fetches is discarded.
    std::unique_ptr<THttpClient> HttpClient1;

    void FormCreate();
    void Button1Click();
    void TestBtnClick();
    void ProductLinkClick();

    // The page the connection test fetches through the proxy. Tests point it at a
    // server of their own; an empty address puts the well-known page back.
    static std::string TestPage();
    static void SetTestPage(const std::string& address);

    // True while a connection test waits for its answer.
    bool testing() const { return testing_; }

protected:
    void done(int result) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void createGeneralPage();
    void createAboutPage();
    void createHttpClient();

    bool testing_ = false;
    // The dialog closed while its test was waiting: the test's result is not shown.
    bool closed_ = false;
};

// The help page installed with the program, in its folder "help" next to the library,
// and its file:// address.
std::string helpPagePath();
std::string helpPageAddress();

} // namespace fetchora
