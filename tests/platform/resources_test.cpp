// The menu resources: the resource-script parser with its errors, the built-in row
// menus, loaded menus and their handles, and TrackPopupMenu both scripted and as a real
// popup driven by keys.
#include "platform/resources/menu.h"
#include "platform/resources/menu_template.h"
#include "platform/resources/resource_table.h"
#include "platform/resources/track_popup_menu.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QTimer>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace fetchora::resources {
namespace {

// One line per item: its text (or "-" for a separator), its id, popups indented.
void outline(HMENU menu, const std::string& indent, std::vector<std::string>& lines) {
    for (int pos = 0; pos < GetMenuItemCount(menu); ++pos) {
        const auto byPos = static_cast<unsigned>(pos);
        if ((GetMenuState(menu, byPos, MF_BYPOSITION) & MF_SEPARATOR) != 0) {
            lines.push_back(indent + "-");
        } else if (HMENU sub = GetSubMenu(menu, pos)) {
            lines.push_back(indent + GetMenuString(menu, byPos, MF_BYPOSITION) + ":");
            outline(sub, indent + "  ", lines);
        } else {
            lines.push_back(indent + GetMenuString(menu, byPos, MF_BYPOSITION) + " " +
                            std::to_string(GetMenuItemID(menu, pos)));
        }
    }
}

std::vector<std::string> outlineOf(const char* name) {
    const UniqueMenu menu(LoadMenu(name));
    std::vector<std::string> lines;
    outline(menu.get(), "", lines);
    return lines;
}

TEST(MenuResourcesTest, RowMenusCarryTheirTextsAndCommandNumbers) {
    EXPECT_EQ(outlineOf(IDM_EDIT_MENU), (std::vector<std::string>{
                                            "EDITMENU:",
                                            "  View selected file in browser... 1",
                                            "  -",
                                            "  Check all 2",
                                            "  Uncheck all 3",
                                            "  -",
                                            "  Move checked to top 4",
                                            "  Move checked to bottom 5",
                                            "  -",
                                            "  Delete checked from list 6",
                                        }));
    EXPECT_EQ(outlineOf(IDM_MY_MENU), (std::vector<std::string>{
                                          "GALLERYMENU:",
                                          "  Check all 1",
                                          "  Uncheck all 2",
                                          "  -",
                                          "  Above:",
                                          "    Check all 3",
                                          "    Uncheck all 4",
                                          "  Below:",
                                          "    Check all 5",
                                          "    Uncheck all 6",
                                          "  Images:",
                                          "    Check all 7",
                                          "    Uncheck all 8",
                                          "  Hyperlinks:",
                                          "    Check all 9",
                                          "    Uncheck all 10",
                                          "  -",
                                          "  View selected file in browser... 11",
                                          "  Copy selected URL to clipboard 12",
                                      }));
}

TEST(MenuResourcesTest, MenusLoadByNameWithoutRegardToCase) {
    const UniqueMenu lower(LoadMenu("idm_edit_menu"));
    ASSERT_TRUE(lower);
    EXPECT_EQ(GetMenuString(lower.get(), 0, MF_BYPOSITION), "EDITMENU");
    EXPECT_EQ(LoadMenu("IDM_NO_MENU"), nullptr);
    EXPECT_EQ(LoadMenu(""), nullptr);
}

TEST(MenuResourcesTest, ParserReadsTheWholeMenuSyntax) {
    const std::vector<MenuTemplate> menus = parseMenuScript(R"rc(
        /* two menus, braces and words mixed */
        First menu discardable {
          menuitem "&Open ""quoted""\tCtrl+O", 0x10, CHECKED GRAYED
          MenuItem Separator
          popup "&More", inactive
          BEGIN
            MENUITEM "Deep", 65535, MENUBARBREAK, HELP // trailing comment
          end
        }
        200 MENU PRELOAD BEGIN END
    )rc");
    ASSERT_EQ(menus.size(), 2u);
    EXPECT_EQ(menus[0].name, "First");
    ASSERT_EQ(menus[0].items.size(), 3u);
    const MenuItemTemplate& open = menus[0].items[0];
    EXPECT_EQ(open.text, "&Open \"quoted\"\tCtrl+O");
    EXPECT_EQ(open.id, 16u);
    EXPECT_EQ(open.flags, MF_CHECKED | MF_GRAYED);
    EXPECT_EQ(menus[0].items[1].flags, MF_SEPARATOR);
    const MenuItemTemplate& more = menus[0].items[2];
    EXPECT_EQ(more.flags, MF_POPUP | MF_DISABLED);
    ASSERT_EQ(more.items.size(), 1u);
    EXPECT_EQ(more.items[0].id, 65535u);
    EXPECT_EQ(more.items[0].flags, MF_MENUBARBREAK | MF_HELP);
    EXPECT_EQ(menus[1].name, "200");
    EXPECT_TRUE(menus[1].items.empty());
    EXPECT_TRUE(parseMenuScript("  // nothing but a comment\n").empty());
}

struct Damage {
    const char* script;
    const char* message;
};

TEST(MenuResourcesTest, DamagedScriptsNameTheLineColumnAndWhatWasExpected) {
    const Damage cases[] = {
        {"M MENU\nBEGIN\n  MENUITEM \"a\", 1\n",
         "Resource script, line 2, column 1: the block opened here is not closed with END or "
         "\"}\""},
        {"M MENU { MENUITEM \"a\" 1 }",
         "Resource script, line 1, column 23: expected \",\" and the command id after \"a\", "
         "found \"1\""},
        {"M MENU { MENUITEM \"a, 1 }", "Resource script, line 1, column 19: string is not closed"},
        {"M MENU { MENUITEM \"a\", 70000 }",
         "Resource script, line 1, column 24: command id 70000 is not a number from 0 to 65535"},
        {"M MENU { MENUITEM \"a\", 1, BOLD }",
         "Resource script, line 1, column 27: expected an option (CHECKED, GRAYED, INACTIVE, "
         "MENUBARBREAK, MENUBREAK, HELP), found \"BOLD\""},
        {"M MENU { MENUITEM \"a\", 1 BOLD }",
         "Resource script, line 1, column 26: expected MENUITEM, POPUP, END or \"}\", found "
         "\"BOLD\""},
        {"M DIALOG { }", "Resource script, line 1, column 3: expected MENU after the name M, "
                         "found \"DIALOG\""},
        {"M MENU MENUITEM", "Resource script, line 1, column 8: expected BEGIN or \"{\" to open "
                            "the menu M, found \"MENUITEM\""},
        {R"(M MENU { POPUP "p" MENUITEM "a", 1 })",
         "Resource script, line 1, column 20: expected BEGIN or \"{\" to open the POPUP \"p\", "
         "found \"MENUITEM\""},
        {R"(M MENU { MENUITEM "a", ID_A })",
         "Resource script, line 1, column 24: expected a command id (a number), found \"ID_A\""},
        {"M MENU { }\nm MENU { }", "Resource script, line 2, column 1: a second menu named m"},
        {R"(M MENU { MENUITEM "a\q", 1 })",
         R"(Resource script, line 1, column 21: unknown escape "\q" in a string)"},
        {R"(#include "menus.h")", "Resource script, line 1, column 1: unexpected character '#'"},
        {"M MENU { } /* open", "Resource script, line 1, column 12: comment is not closed"},
    };
    for (const Damage& damage : cases) {
        try {
            parseMenuScript(damage.script);
            ADD_FAILURE() << "parsed: " << damage.script;
        } catch (const ResourceScriptError& error) {
            EXPECT_EQ(std::string(error.what()), damage.message) << damage.script;
        }
    }
}

TEST(MenuResourcesTest, HandlesOfDestroyedAndSubMenusAreRefused) {
    HMENU menu = LoadMenu(IDM_MY_MENU);
    ASSERT_TRUE(IsMenu(menu));
    HMENU gallery = GetSubMenu(menu, 0);
    ASSERT_TRUE(IsMenu(gallery));
    EXPECT_EQ(GetSubMenu(gallery, 0), nullptr) << "a command is no popup";
    EXPECT_EQ(GetMenuItemID(gallery, 2), 0u) << "separator";
    EXPECT_EQ(GetMenuItemID(gallery, 3), kNoMenuItem) << "popup";
    EXPECT_EQ(GetMenuItemID(gallery, 99), kNoMenuItem);
    EXPECT_EQ(GetMenuString(menu, 10, MF_BYCOMMAND), "Uncheck all") << "found in a sub-menu";
    EXPECT_EQ(GetMenuState(menu, 13, MF_BYCOMMAND), kNoMenuItem);
    EXPECT_EQ(findMenuCommand(menu, "Copy selected URL to clipboard"), 12u);
    EXPECT_EQ(findMenuCommand(menu, "Paste"), 0u);

    HMENU above = GetSubMenu(gallery, 3);
    EXPECT_FALSE(DestroyMenu(gallery)) << "a sub-menu goes with its parent";
    EXPECT_TRUE(DestroyMenu(menu));
    EXPECT_FALSE(IsMenu(menu));
    EXPECT_FALSE(IsMenu(gallery));
    EXPECT_FALSE(IsMenu(above));
    EXPECT_FALSE(DestroyMenu(menu));
    EXPECT_EQ(GetMenuItemCount(gallery), -1);
    EXPECT_EQ(TrackPopupMenu(gallery, TPM_RETURNCMD, 0, 0, nullptr), 0u);
}

TEST(MenuResourcesTest, InsertedItemsGoInFrontOfThePositionOrCommandGiven) {
    const UniqueMenu menu(LoadMenu(IDM_MY_MENU));
    HMENU gallery = GetSubMenu(menu.get(), 0);
    const int before = GetMenuItemCount(gallery);
    // By command, the item goes into the sub-menu that holds the command.
    EXPECT_TRUE(InsertMenu(menu.get(), 2, MF_BYCOMMAND | MF_STRING, 40, "Invert"));
    EXPECT_EQ(GetMenuItemCount(menu.get()), 1);
    EXPECT_EQ(GetMenuItemID(gallery, 1), 40u);
    EXPECT_EQ(GetMenuItemID(gallery, 2), 2u);
    EXPECT_FALSE(InsertMenu(menu.get(), 99, MF_BYCOMMAND, 41, "Nowhere"));
    // By position, past the end appends.
    EXPECT_TRUE(InsertMenu(gallery, 0xFFFFFFFF, MF_BYPOSITION | MF_SEPARATOR, 0, ""));
    EXPECT_EQ(GetMenuItemCount(gallery), before + 2);
    EXPECT_EQ(GetMenuState(gallery, static_cast<unsigned>(before + 1), MF_BYPOSITION),
              MF_SEPARATOR);
    EXPECT_FALSE(InsertMenu(gallery, 0, MF_BYPOSITION | MF_POPUP, 0, "Popup"));

    const UniqueMenu empty(CreatePopupMenu());
    EXPECT_TRUE(InsertMenu(empty.get(), 5, MF_BYPOSITION, 1, "Only"));
    EXPECT_EQ(GetMenuString(empty.get(), 0, MF_BYPOSITION), "Only");
}

class TrackPopupMenuTest : public ::testing::Test {
protected:
    ~TrackPopupMenuTest() override { setTrackPopupHook(std::move(previous_)); }
    TrackPopupHook previous_ = setTrackPopupHook({});
};

TEST_F(TrackPopupMenuTest, ScriptedChoiceIsReturnedInTheReturnCommandMode) {
    const UniqueMenu menu(LoadMenu(IDM_EDIT_MENU));
    HMENU edit = GetSubMenu(menu.get(), 0);
    QWidget owner;
    QPoint seenAt;
    QWidget* seenOwner = nullptr;
    unsigned seenFlags = 0;
    std::string choice = "Move checked to bottom";
    setTrackPopupHook([&](HMENU shown, unsigned flags, QPoint at, QWidget* by) {
        EXPECT_EQ(shown, edit);
        seenFlags = flags;
        seenAt = at;
        seenOwner = by;
        return findMenuCommand(shown, choice);
    });
    EXPECT_EQ(TrackPopupMenu(edit, TPM_RETURNCMD | TPM_RIGHTBUTTON, 30, 40, &owner), 5u);
    EXPECT_EQ(seenAt, QPoint(30, 40));
    EXPECT_EQ(seenOwner, &owner);
    EXPECT_EQ(seenFlags, TPM_RETURNCMD | TPM_RIGHTBUTTON);
    EXPECT_EQ(TrackPopupMenu(edit, TPM_RIGHTBUTTON, 0, 0, &owner), 1u) << "chosen, not returned";
    choice = "nothing of the menu";
    EXPECT_EQ(TrackPopupMenu(edit, TPM_RETURNCMD, 0, 0, &owner), 0u) << "dismissed";
    EXPECT_EQ(TrackPopupMenu(edit, 0, 0, 0, &owner), 0u);
}

// Presses keys on the popup once it is up, as a person would.
void pressOnPopup(std::vector<int> keys, QStringList* shown) {
    QTimer::singleShot(0, [keys = std::move(keys), shown] {
        auto* popup = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        ASSERT_NE(popup, nullptr) << "no popup is up";
        for (const QAction* action : popup->actions())
            shown->append(action->isSeparator() ? QStringLiteral("-") : action->text());
        for (const int key : keys) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(QApplication::activePopupWidget(), &press);
        }
    });
}

TEST_F(TrackPopupMenuTest, RealPopupSkipsGrayedItemsAndReturnsTheChosenCommand) {
    const std::vector<MenuTemplate> menus = parseMenuScript(R"rc(
        T MENU { POPUP "" {
            MENUITEM "&Grayed", 7, GRAYED
            MENUITEM SEPARATOR
            MENUITEM "Second", 8
            POPUP "Sub" { MENUITEM "Inner", 9 }
        } })rc");
    const UniqueMenu menu(LoadMenuIndirect(menus.at(0)));
    HMENU popup = GetSubMenu(menu.get(), 0);
    QWidget owner;

    QStringList shown;
    pressOnPopup({Qt::Key_Down, Qt::Key_Return}, &shown);
    EXPECT_EQ(TrackPopupMenu(popup, TPM_RETURNCMD, 10, 10, &owner), 8u);
    EXPECT_EQ(shown, (QStringList{QStringLiteral("&Grayed"), QStringLiteral("-"),
                                  QStringLiteral("Second"), QStringLiteral("Sub")}));

    pressOnPopup({Qt::Key_Escape}, &shown);
    EXPECT_EQ(TrackPopupMenu(popup, TPM_RETURNCMD, 10, 10, &owner), 0u);
}

} // namespace
} // namespace fetchora::resources
