#include "platform/UIKit/UIActionSheet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "platform/Device/Screen.h"
#include "platform/UIKit/UIAlertView.h"
#include "platform/UIKit/UIApplication.h"

namespace {

struct RecordingDelegate : UIActionSheetDelegate {
    void actionSheetClickedButtonAtIndex(UIActionSheet* sheet, int index) override {
        pressed.push_back(index);
        visibleDuringCall = sheet->isVisible();
    }
    std::vector<int> pressed;
    bool visibleDuringCall = false;
};

class UIActionSheetTest : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const auto& sheet : UIActionSheet::visibleSheets())
            sheet->dismissWithClickedButtonIndex(0, false);
        for (const auto& alert : UIAlertView::visibleAlerts())
            alert->dismissWithClickedButtonIndex(0, false);
        while (UIApplication::sharedApplication()->isIgnoringInteractionEvents())
            UIApplication::sharedApplication()->endIgnoringInteractionEvents();
    }
    std::shared_ptr<UIActionSheet> exportMenu() {
        return UIActionSheet::initWithTitle("", delegate, "Cancel", "",
                                            {"Email", "Save to Camera Roll"});
    }
    std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

struct OrderCase {
    std::string cancel;
    std::string destructive;
    std::vector<std::string> others;
    std::vector<std::string> titles;
    int cancelIndex;
    int destructiveIndex;
    friend std::ostream& operator<<(std::ostream& out, const OrderCase& c) {
        return out << "cancel '" << c.cancel << "', destructive '" << c.destructive << "'";
    }
};

class UIActionSheetOrderTest : public ::testing::TestWithParam<OrderCase> {};

TEST_P(UIActionSheetOrderTest, DestructiveFirstOthersInOrderCancelLast) {
    const OrderCase& c = GetParam();
    auto sheet = UIActionSheet::initWithTitle("", {}, c.cancel, c.destructive, c.others);
    ASSERT_EQ(sheet->numberOfButtons(), static_cast<int>(c.titles.size()));
    for (int i = 0; i < sheet->numberOfButtons(); ++i)
        EXPECT_EQ(sheet->buttonTitleAtIndex(i), c.titles[static_cast<size_t>(i)]) << i;
    EXPECT_EQ(sheet->cancelButtonIndex(), c.cancelIndex);
    EXPECT_EQ(sheet->destructiveButtonIndex(), c.destructiveIndex);
    EXPECT_EQ(sheet->buttonTitleAtIndex(sheet->numberOfButtons()), "");
}

INSTANTIATE_TEST_SUITE_P(
    Buttons, UIActionSheetOrderTest,
    ::testing::Values(OrderCase{"Cancel",
                                "",
                                {"Email", "Save to Camera Roll"},
                                {"Email", "Save to Camera Roll", "Cancel"},
                                2,
                                -1},
                      OrderCase{"Cancel", "Delete", {"Keep"}, {"Delete", "Keep", "Cancel"}, 2, 0},
                      OrderCase{"", "Delete", {}, {"Delete"}, -1, 0},
                      OrderCase{"", "", {"A", "B"}, {"A", "B"}, -1, -1}));

TEST_F(UIActionSheetTest, APressTellsTheDelegateThenTakesTheSheetAway) {
    exportMenu()->showFromToolbar(nullptr);
    // The screen keeps the sheet alive; it is found the way a person sees it.
    auto sheet = UIActionSheet::topSheet();
    ASSERT_TRUE(sheet);
    EXPECT_FALSE(sheet->pressButtonWithTitle("Print"));
    EXPECT_TRUE(sheet->pressButtonWithTitle("Save to Camera Roll"));
    EXPECT_EQ(delegate->pressed, std::vector<int>{1});
    EXPECT_TRUE(delegate->visibleDuringCall);
    EXPECT_FALSE(sheet->isVisible());
    EXPECT_FALSE(UIActionSheet::topSheet());
    // Gone from the screen: a second press reaches nobody.
    EXPECT_FALSE(sheet->pressButtonWithTitle("Cancel"));
    EXPECT_EQ(delegate->pressed, std::vector<int>{1});
}

TEST_F(UIActionSheetTest, PressesAreRefusedWhereAPersonCouldNotPress) {
    auto sheet = exportMenu();
    EXPECT_FALSE(sheet->pressButtonWithTitle("Email"));  // not on screen yet
    sheet->showFromToolbar(nullptr);
    sheet->showFromToolbar(nullptr);
    EXPECT_EQ(UIActionSheet::visibleSheets().size(), 1u);
    EXPECT_FALSE(sheet->pressButtonAtIndex(3));

    auto alert = UIAlertView::initWithTitle("Error", "busy", {}, "OK", {});
    alert->show();
    EXPECT_FALSE(sheet->pressButtonWithTitle("Email"));  // the alert covers it
    alert->pressButtonWithTitle("OK");

    UIApplication::sharedApplication()->beginIgnoringInteractionEvents();
    EXPECT_FALSE(sheet->pressButtonWithTitle("Email"));
    UIApplication::sharedApplication()->endIgnoringInteractionEvents();

    EXPECT_TRUE(delegate->pressed.empty());
    EXPECT_TRUE(sheet->pressButtonWithTitle("Email"));
    EXPECT_EQ(delegate->pressed, std::vector<int>{0});
}

// Screen brightness at a point: the mean of red, green and blue.
int brightnessAt(int x, int y) {
    auto picture = Screen::mainScreen().lastComposed();
    uint32_t word;
    std::memcpy(&word, picture->data() + static_cast<size_t>(y) * picture->bytesPerRow() + x * 4,
                4);
    return static_cast<int>(((word >> 16 & 0xFF) + (word >> 8 & 0xFF) + (word & 0xFF)) / 3);
}

TEST_F(UIActionSheetTest, TheScreenShowsTheSheetAlongTheBottomUntilItGoes) {
    UIApplication application;
    application.refreshScreen();
    EXPECT_LT(brightnessAt(40, 310), 30);
    auto sheet = exportMenu();
    sheet->showFromToolbar(nullptr);
    application.refreshScreen();
    // Three light rows (Email, Save to Camera Roll; Cancel set apart and darker) at the bottom.
    const CGRect frame = sheet->frame();
    EXPECT_EQ(frame.origin.y + frame.size.height, Screen::kHeight);
    EXPECT_GT(brightnessAt(40, static_cast<int>(frame.origin.y) + 30), 200);
    EXPECT_GT(brightnessAt(40, static_cast<int>(frame.origin.y) + 80), 200);
    EXPECT_LT(brightnessAt(40, Screen::kHeight - 30), 120);
    sheet->pressButtonWithTitle("Cancel");
    application.refreshScreen();
    EXPECT_LT(brightnessAt(40, static_cast<int>(frame.origin.y) + 30), 30);
}

}  // namespace
