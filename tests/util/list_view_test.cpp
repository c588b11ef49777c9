// The check-mark helpers of the checkable report views, with the view's change signal
// silent while they work.
#include "util/list_view.h"

#include "platform/errors.h"
#include "platform/qt/desktop.h"
#include "support/sandbox.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFontMetrics>
#include <QTreeWidget>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

namespace fetchora {
namespace {

QApplication& application() {
    static int argc = 1;
    static char name[] = "list_view_test";
    static char* argv[] = {name, nullptr};
    static QApplication app(argc, argv);
    return app;
}

class ListView : public ::testing::Test {
protected:
    void SetUp() override {
        application();
        view_ = std::make_unique<QTreeWidget>();
        view_->setColumnCount(2);
        view_->setHeaderLabels({QStringLiteral("Name"), QStringLiteral("Address")});
        for (const char* caption : {"a.zip", "B.PDF", "\xC3\x84rger.jpg", "b.pdf", "c.exe"}) {
            auto* item = new QTreeWidgetItem(view_.get());
            item->setText(0, ui::toQString(caption));
            item->setText(1, QStringLiteral("http://example.org/") + ui::toQString(caption));
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, Qt::Unchecked);
        }
        QObject::connect(view_.get(), &QTreeWidget::itemChanged,
                         [this](QTreeWidgetItem*, int) { ++changes_; });
    }

    // The check marks of the rows as a string of 'x' and '-'.
    std::string marks() const {
        std::string result;
        for (int i = 0; i < view_->topLevelItemCount(); ++i)
            result += view_->topLevelItem(i)->checkState(0) == Qt::Checked ? 'x' : '-';
        return result;
    }

    std::unique_ptr<QTreeWidget> view_;
    int changes_ = 0;
};

TEST_F(ListView, ChecksRangesWithoutSignallingEachRow) {
    setChecksUpTo(view_.get(), 2, true);
    EXPECT_EQ(marks(), "xxx--");
    setChecksUpTo(view_.get(), 0, false);
    EXPECT_EQ(marks(), "-xx--");
    setChecksUpTo(view_.get(), -1, true);
    EXPECT_EQ(marks(), "-xx--") << "nothing selected changes nothing";
    setChecksFrom(view_.get(), 3, true);
    EXPECT_EQ(marks(), "-xxxx");
    setChecksFrom(view_.get(), 4, false);
    EXPECT_EQ(marks(), "-xxx-");
    setChecksFrom(view_.get(), -1, false);
    EXPECT_EQ(marks(), "-xxx-");
    EXPECT_EQ(countChecked(view_.get()), 3);
    setAllChecks(view_.get(), false);
    EXPECT_EQ(countChecked(view_.get()), 0);
    setAllChecks(view_.get(), true);
    EXPECT_EQ(marks(), "xxxxx");
    EXPECT_THROW(setChecksUpTo(view_.get(), 5, true), ListError);
    EXPECT_EQ(changes_, 0);

    // The signal is back for ordinary changes afterwards.
    view_->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
    EXPECT_EQ(changes_, 1);
    EXPECT_FALSE(view_->signalsBlocked());
}

TEST_F(ListView, ChecksByCaptionWithoutRegardToCase) {
    setChecksByCaption(view_.get(), "b.pdf", true);
    EXPECT_EQ(marks(), "-x-x-");
    setChecksByCaption(view_.get(), "\xC3\xA4RGER.JPG", true);
    EXPECT_EQ(marks(), "-xxx-");
    setChecksByCaption(view_.get(), "B.PDF", false);
    EXPECT_EQ(marks(), "--x--");
    setChecksByCaption(view_.get(), "a.zi", true);
    EXPECT_EQ(marks(), "--x--") << "the whole caption must match";
    EXPECT_EQ(changes_, 0);
}

TEST_F(ListView, RequireSelectionTellsTheUserWhenNothingIsSelected) {
    testing::ScriptedDesktop desktop;
    EXPECT_FALSE(requireSelection(view_.get(), "Please select a file first."));
    ASSERT_EQ(desktop.messages.size(), 1u);
    EXPECT_EQ(desktop.messages[0].text, "Please select a file first.");
    EXPECT_EQ(desktop.messages[0].title, "Information");
    EXPECT_EQ(desktop.messages[0].icon, ui::MessageIcon::Information);

    view_->topLevelItem(3)->setSelected(true);
    EXPECT_TRUE(requireSelection(view_.get(), "Please select a file first."));
    EXPECT_EQ(desktop.messages.size(), 1u);
}

TEST_F(ListView, FitColumnsMakesEachColumnItsWidestTextPlusForty) {
    view_->topLevelItem(1)->setText(1, QStringLiteral("http://example.org/a/much/longer/address"));
    fitColumns(view_.get());
    const QFontMetrics metrics(view_->font());
    for (int column = 0; column < 2; ++column) {
        int widest = metrics.horizontalAdvance(view_->headerItem()->text(column));
        for (int i = 0; i < view_->topLevelItemCount(); ++i)
            widest =
                std::max(widest, metrics.horizontalAdvance(view_->topLevelItem(i)->text(column)));
        EXPECT_EQ(view_->columnWidth(column), widest + 40) << column;
    }
    EXPECT_EQ(
        view_->columnWidth(1),
        metrics.horizontalAdvance(QStringLiteral("http://example.org/a/much/longer/address")) + 40);
}

} // namespace
} // namespace fetchora
