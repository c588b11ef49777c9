// The form builder: frames other than the fixed dialog's, and handlers that take the
// signal's arguments or raise.
#include "util/form_builder.h"

#include "support/sandbox.h"

#include <QDialog>
#include <QLineEdit>

#include <gtest/gtest.h>

#include <stdexcept>

namespace fetchora {
namespace {

class TTypingForm final : public QWidget {
public:
    TTypingForm() {
        forms::setUpForm(*this, "TypingForm", "Typing", {300, 200}, forms::Border::None);
        edit_ = forms::component<QLineEdit>(this, "Edit", 8, 8, 200, 21);
        forms::connectHandler(edit_, &QLineEdit::textChanged, this, &TTypingForm::EditChange);
    }

    void type(const char* text) { edit_->setText(QString::fromLatin1(text)); }
    const std::vector<std::string>& seen() const { return seen_; }

private:
    void EditChange(const QString& text) {
        if (text == QStringLiteral("raise"))
            throw std::runtime_error("cannot take it");
        seen_.push_back(text.toStdString());
    }

    QLineEdit* edit_;
    std::vector<std::string> seen_;
};

TEST(FormBuilder, HandlersGetTheSignalsArgumentsAndTheirErrorsAreReported) {
    testing::ScriptedDesktop desktop;
    TTypingForm form;
    form.type("a");
    EXPECT_NO_THROW(form.type("raise"));
    form.type("b");
    EXPECT_EQ(form.seen(), (std::vector<std::string>{"a", "b"}));
    ASSERT_EQ(desktop.texts(), std::vector<std::string>{"cannot take it"});
    EXPECT_EQ(desktop.messages[0].title, "Error");
}

TEST(FormBuilder, FramesSetFlagsAndSizes) {
    TTypingForm bare;
    EXPECT_EQ(bare.objectName(), QStringLiteral("TypingForm"));
    EXPECT_TRUE(bare.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(bare.size(), QSize(300, 200));
    EXPECT_EQ(bare.font().pixelSize(), 11);

    QDialog sizeable;
    forms::setUpForm(sizeable, "Sizeable", "S", {600, 550}, forms::Border::Sizeable);
    EXPECT_EQ(sizeable.size(), QSize(600, 550));
    EXPECT_NE(sizeable.minimumSize(), sizeable.maximumSize()) << "the user may resize it";
    EXPECT_TRUE(sizeable.windowFlags() & Qt::WindowMaximizeButtonHint);

    QDialog fixed;
    forms::setUpForm(fixed, "Fixed", "F", {355, 93}, forms::Border::DialogWithoutIcons,
                     forms::Placement::OnOwner, forms::Stacking::StaysOnTop);
    EXPECT_EQ(fixed.minimumSize(), fixed.maximumSize());
    EXPECT_FALSE(fixed.windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_TRUE(fixed.windowFlags() & Qt::WindowStaysOnTopHint);
}

} // namespace
} // namespace fetchora
