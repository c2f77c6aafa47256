#include "platform/UIKit/UITableView.h"

#include <cairo.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Foundation/NSException.h"

namespace {

// Rows of texts; commits delete the row from the texts (or, when `forgetful`, do not).
class Rows : public UITableViewDataSource, public UITableViewDelegate {
  public:
    int tableViewNumberOfRowsInSection(UITableView*, int) override {
        return static_cast<int>(texts.size());
    }
    std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView* table,
                                                                    NSIndexPath path) override {
        ++cellsAsked;
        auto cell = table->dequeueReusableCellWithIdentifier("Cell");
        if (!cell) {
            cell = UITableViewCell::initWithStyle(UITableViewCellStyleSubtitle, "Cell");
            ++cellsMade;
        }
        cell->textLabel()->setText(texts.at(static_cast<size_t>(path.row)));
        return cell;
    }
    bool tableViewCanEditRowAtIndexPath(UITableView*, NSIndexPath path) override {
        return path.row != lockedRow;
    }
    bool respondsToCommitEditingStyle() const override { return takesCommits; }
    void tableViewCommitEditingStyleForRowAtIndexPath(UITableView* table,
                                                      UITableViewCellEditingStyle style,
                                                      NSIndexPath path) override {
        commits.push_back(path.row);
        EXPECT_EQ(style, UITableViewCellEditingStyleDelete);
        if (!forgetful)
            texts.erase(texts.begin() + path.row);
        table->deleteRowsAtIndexPaths({path}, UITableViewRowAnimationRight);
    }
    void tableViewDidSelectRowAtIndexPath(UITableView*, NSIndexPath path) override {
        selected.push_back(path.row);
    }

    std::vector<std::string> texts;
    int lockedRow = -1;
    bool takesCommits = true;
    bool forgetful = false;
    int cellsAsked = 0;
    int cellsMade = 0;
    std::vector<int> commits;
    std::vector<int> selected;
};

// A full-screen table of 60-point rows under a 64-point bar: rows 0 to 6 are on screen.
class TableViewTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 20; ++i) rows->texts.push_back("row " + std::to_string(i));
        table->setDataSource(rows);
        table->setDelegate(rows);
        table->setRowHeight(60);
        table->setContentInsetTop(64);
    }
    std::string textOf(int row) {
        auto cell = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
        return cell ? cell->textLabel()->text() : "(not on screen)";
    }

    std::shared_ptr<Rows> rows = std::make_shared<Rows>();
    std::shared_ptr<UITableView> table =
        UITableView::initWithFrame(CGRectMake(0, 0, 320, 480), UITableViewStylePlain);
};

TEST_F(TableViewTest, OnlyRowsOnScreenHaveCellsAndCellsAreReused) {
    EXPECT_EQ(table->numberOfRowsInSection(0), 20);
    EXPECT_EQ(table->visibleCells().size(), 7u);
    EXPECT_EQ(textOf(0), "row 0");
    EXPECT_EQ(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(0, 0))->frame().origin.y,
              64);
    EXPECT_EQ(textOf(7), "(not on screen)");
    table->scrollToRowAtIndexPath(NSIndexPath::indexPathForRow(12, 0));
    EXPECT_EQ(textOf(12), "row 12");
    EXPECT_EQ(textOf(0), "(not on screen)");
    EXPECT_EQ(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(12, 0))->frame(),
              CGRectMake(0, 420, 320, 60));
    const int made = rows->cellsMade;
    EXPECT_LE(made, 8);
    // Scrolling and reloading take cells from the pool instead of making new ones.
    table->reloadData();
    EXPECT_EQ(rows->cellsMade, made);
    EXPECT_EQ(textOf(12), "row 12");
}

TEST_F(TableViewTest, SelectingARowTellsTheDelegate) {
    EXPECT_TRUE(table->selectRow(15));
    EXPECT_EQ(rows->selected, std::vector<int>{15});
    EXPECT_EQ(table->indexPathForSelectedRow(), 15);
    EXPECT_EQ(textOf(15), "row 15");

    struct Refusal {
        const char* why;
        std::function<void()> arrange;
        int row;
    };
    const Refusal refusals[] = {
        {"past the end", [] {}, 20},
        {"negative", [] {}, -1},
        {"edit mode", [&] { table->setEditing(true, false); }, 1},
        {"hidden", [&] { table->setHidden(true); }, 1},
    };
    for (const auto& r : refusals) {
        r.arrange();
        EXPECT_FALSE(table->selectRow(r.row)) << r.why;
    }
    EXPECT_EQ(rows->selected, std::vector<int>{15});
}

TEST_F(TableViewTest, DeletingRowsRefillsTheScreen) {
    EXPECT_TRUE(table->commitDeleteOnRow(1));
    EXPECT_EQ(rows->commits, std::vector<int>{1});
    EXPECT_EQ(table->numberOfRowsInSection(0), 19);
    EXPECT_EQ(textOf(1), "row 2");
    EXPECT_EQ(textOf(6), "row 7");
}

TEST_F(TableViewTest, DeleteIsRefusedWhereTheDataSourceSaysSo) {
    rows->lockedRow = 3;
    EXPECT_FALSE(table->commitDeleteOnRow(3));
    EXPECT_FALSE(table->commitDeleteOnRow(20));
    rows->takesCommits = false;
    EXPECT_FALSE(table->commitDeleteOnRow(0));
    EXPECT_TRUE(rows->commits.empty());
    EXPECT_EQ(table->numberOfRowsInSection(0), 20);
}

TEST_F(TableViewTest, ADeleteTheDataSourceDidNotMakeIsAnInconsistency) {
    rows->forgetful = true;
    EXPECT_THROW(table->commitDeleteOnRow(0), NSException);
}

TEST_F(TableViewTest, EditModeReachesTheCellsOnScreen) {
    table->setEditing(true, true);
    for (const auto& cell : table->visibleCells()) EXPECT_TRUE(cell->isEditing());
    table->scrollToRowAtIndexPath(NSIndexPath::indexPathForRow(19, 0));
    for (const auto& cell : table->visibleCells()) EXPECT_TRUE(cell->isEditing());
    table->setEditing(false, true);
    for (const auto& cell : table->visibleCells()) EXPECT_FALSE(cell->isEditing());
}

// A finger on the table: rows lie 60 points apart from y 64 (row r's middle at 94 + 60 r).
class TableTouchTest : public TableViewTest {
  protected:
    void touch(CGPoint from, CGPoint to) {
        table->touchBegan(from);
        table->touchMoved(CGPointMake(from.x, (from.y + to.y) / 2));
        table->touchMoved(to);
        table->touchEnded(to);
    }
    void tap(double x, double y) { touch({x, y}, {x, y}); }
    bool confirming(int row) {
        auto cell = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
        return cell && cell->showingDeleteConfirmation() &&
               table->rowShowingDeleteConfirmation() == row;
    }
};

TEST_F(TableTouchTest, ATapSelectsTheRowAndADragScrollsWithoutSelecting) {
    tap(160, 94 + 60);
    EXPECT_EQ(rows->selected, std::vector<int>{1});
    // Movements within the slop stay a tap.
    touch({160, 94}, {165, 100});
    touch({160, 94}, {160, 94 + 6});
    EXPECT_EQ(rows->selected, (std::vector<int>{1, 0, 0}));
    // Dragged up by 300 points: the rows follow the finger and nothing is selected.
    touch({160, 400}, {160, 100});
    EXPECT_EQ(table->contentOffset(), 300);
    EXPECT_EQ(rows->selected, (std::vector<int>{1, 0, 0}));
    tap(160, 94);  // row (94 + 300 - 64) / 60
    EXPECT_EQ(rows->selected, (std::vector<int>{1, 0, 0, 5}));
    // Past the last row the scrolling stops at the end.
    touch({160, 450}, {160, -2000});
    EXPECT_EQ(table->contentOffset(), 64 + 20 * 60 - 480);
}

TEST_F(TableTouchTest, ARowShowsPressedOnlyWhileTheFingerIsDownOnItAndStill) {
    auto highlighted = [&] {
        std::vector<int> shown;
        for (int row = 0; row < 20; ++row) {
            auto cell = table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
            if (cell && cell->isHighlighted())
                shown.push_back(row);
        }
        return shown;
    };
    table->touchBegan({160, 154});
    EXPECT_EQ(highlighted(), std::vector<int>{1});
    EXPECT_EQ(table->highlightedRow(), 1);
    table->touchEnded({160, 154});
    EXPECT_TRUE(highlighted().empty());
    EXPECT_EQ(rows->selected, std::vector<int>{1});
    table->deselectRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0), false);

    // A drag takes the press away as the rows start to scroll.
    table->touchBegan({160, 274});
    table->touchMoved({160, 270});
    EXPECT_EQ(highlighted(), std::vector<int>{3});
    table->touchMoved({160, 200});
    EXPECT_TRUE(highlighted().empty());
    table->touchEnded({160, 200});
    EXPECT_TRUE(highlighted().empty());

    // Under the bar the rows are cut off: a touch there presses and selects none of them.
    table->setContentOffset(120);
    table->touchBegan({160, 30});
    EXPECT_EQ(table->highlightedRow(), -1);
    table->touchEnded({160, 30});
    // In edit mode a row's controls take the touch; the row shows no press.
    table->setEditing(true, false);
    table->touchBegan({160, 154});
    EXPECT_EQ(table->highlightedRow(), -1);
    table->touchEnded({160, 154});
    EXPECT_EQ(rows->selected, std::vector<int>{1});
}

TEST_F(TableViewTest, RowsScrolledUnderTheBarAreCutOffAndAPressedRowIsDrawnSelected) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 320, 480);
    auto blueAt = [&](int x, int y) {
        cairo_t* cr = cairo_create(surface);
        table->drawHierarchy(cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface);
        const unsigned char* data = cairo_image_surface_get_data(surface);
        const uint32_t pixel = *reinterpret_cast<const uint32_t*>(
            data + y * cairo_image_surface_get_stride(surface) + x * 4);
        return (pixel & 0xff) > 0xc0 && ((pixel >> 16) & 0xff) < 0x40;
    };
    table->touchBegan({160, 94});
    EXPECT_TRUE(blueAt(160, 70));  // row 0, pressed
    table->touchEnded({160, 94});
    EXPECT_TRUE(blueAt(160, 70));  // and selected
    table->setContentOffset(40);   // row 0 lies at y 24 to 84 now
    EXPECT_FALSE(blueAt(160, 40));
    EXPECT_TRUE(blueAt(160, 70));
    cairo_surface_destroy(surface);
}

TEST_F(TableTouchTest, InEditModeTheDeleteControlAsksAndTheDeleteButtonDeletes) {
    table->setEditing(true, false);
    tap(160, 154);  // row 1 away from its controls: nothing
    tap(278, 154);  // where row 1's Delete button would be: nothing yet
    EXPECT_TRUE(rows->selected.empty());
    EXPECT_TRUE(rows->commits.empty());
    tap(16, 154);  // row 1's delete control
    EXPECT_TRUE(confirming(1));
    tap(16, 214);  // row 2's control moves the question there
    EXPECT_FALSE(confirming(1));
    EXPECT_TRUE(confirming(2));
    tap(16, 214);  // the same control again takes it back
    EXPECT_EQ(table->rowShowingDeleteConfirmation(), -1);
    tap(16, 154);
    tap(160, 274);  // a touch elsewhere takes it back too
    EXPECT_EQ(table->rowShowingDeleteConfirmation(), -1);
    EXPECT_TRUE(rows->commits.empty());

    tap(16, 154);
    tap(278, 154);  // the Delete button
    EXPECT_EQ(rows->commits, std::vector<int>{1});
    EXPECT_EQ(textOf(1), "row 2");
    EXPECT_EQ(table->rowShowingDeleteConfirmation(), -1);
    EXPECT_FALSE(table->cellForRowAtIndexPath(NSIndexPath::indexPathForRow(1, 0))
                     ->showingDeleteConfirmation());

    // Leaving edit mode takes the question away.
    tap(16, 154);
    table->setEditing(false, false);
    EXPECT_EQ(table->rowShowingDeleteConfirmation(), -1);
    for (const auto& cell : table->visibleCells()) EXPECT_FALSE(cell->showingDeleteConfirmation());
    EXPECT_TRUE(rows->selected.empty());
}

TEST(TableViewCellTest, SubtitleStyleHasADetailLabelAndTheImageMovesTheTexts) {
    auto plain = UITableViewCell::initWithStyle(UITableViewCellStyleDefault, "A");
    EXPECT_EQ(plain->detailTextLabel(), nullptr);
    auto cell = UITableViewCell::initWithStyle(UITableViewCellStyleSubtitle, "B");
    ASSERT_NE(cell->detailTextLabel(), nullptr);
    cell->setFrame(CGRectMake(0, 0, 320, 60));
    cell->layoutSubviews();
    const double without = cell->textLabel()->frame().origin.x;
    cell->imageView()->setImage(UIImage::imageWithCGImage(CGImage::make(
        8, 8, true, [](uint8_t* rows, size_t stride) { std::fill(rows, rows + 8 * stride, 0); })));
    cell->layoutSubviews();
    EXPECT_EQ(cell->imageView()->frame(), CGRectMake(0, 0, 60, 60));
    EXPECT_EQ(cell->textLabel()->frame().origin.x, without + 60);
}

}  // namespace
