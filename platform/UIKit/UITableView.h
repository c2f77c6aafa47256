#pragma once
// A list of rows in one section, asked of its data source and drawn as cells one row height
// apart. The table keeps the cells of the rows on screen (from the content offset down, below a
// top inset); cells that leave go to a reuse pool by identifier, from which the data source
// takes them back. The row count and the cells are asked of the data source on first use, at
// reloadData, and after rows are deleted.
//
// Edit mode shows every cell's delete control. A person selects a row (selectRow) or deletes one
// (commitDeleteOnRow: the swipe or the delete control, then the Delete button), and the table
// passes that to its delegate or data source.
//
// A finger: a touch that moves more than kScrollSlop up or down scrolls the rows with it;
// otherwise, ending on the row it began on, it selects that row, or in edit mode its delete
// control shows (or hides again) the row's Delete button, and the Delete button commits the
// deletion (commitDeleteOnRow). Any other touch in edit mode hides a Delete button shown.
//
// Threads: main thread only. Neither the data source nor the delegate is retained.

#include <map>
#include <memory>
#include <vector>

#include "platform/UIKit/UITableViewCell.h"
#include "platform/UIKit/UIView.h"

// A row in a section. (The platform's index path, as tables use it.)
struct NSIndexPath {
    int section = 0;
    int row = 0;
    static NSIndexPath indexPathForRow(int row, int section) { return {section, row}; }
    bool operator==(const NSIndexPath&) const = default;
};

enum UITableViewStyle { UITableViewStylePlain = 0, UITableViewStyleGrouped = 1 };

enum UITableViewCellEditingStyle {
    UITableViewCellEditingStyleNone = 0,
    UITableViewCellEditingStyleDelete = 1,
    UITableViewCellEditingStyleInsert = 2,
};

enum UITableViewRowAnimation {
    UITableViewRowAnimationFade = 0,
    UITableViewRowAnimationRight = 1,
    UITableViewRowAnimationLeft = 2,
    UITableViewRowAnimationTop = 3,
    UITableViewRowAnimationBottom = 4,
    UITableViewRowAnimationNone = 5,
};

class UITableView;

class UITableViewDataSource {
  public:
    virtual ~UITableViewDataSource() = default;
    // Only section 0 is shown.
    virtual int numberOfSectionsInTableView(UITableView* tableView) {
        (void)tableView;
        return 1;
    }
    virtual int tableViewNumberOfRowsInSection(UITableView* tableView, int section) = 0;
    // Must give a cell.
    virtual std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(
        UITableView* tableView, NSIndexPath indexPath) = 0;
    virtual bool tableViewCanEditRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) {
        (void)tableView;
        (void)indexPath;
        return true;
    }
    // Optional: rows can be deleted only when the data source takes the commit.
    virtual bool respondsToCommitEditingStyle() const { return false; }
    virtual void tableViewCommitEditingStyleForRowAtIndexPath(UITableView* tableView,
                                                              UITableViewCellEditingStyle style,
                                                              NSIndexPath indexPath) {
        (void)tableView;
        (void)style;
        (void)indexPath;
    }
};

class UITableViewDelegate {
  public:
    virtual ~UITableViewDelegate() = default;
    virtual void tableViewDidSelectRowAtIndexPath(UITableView* tableView, NSIndexPath indexPath) {
        (void)tableView;
        (void)indexPath;
    }
};

class UITableView : public UIView {
  public:
    UITableView() = default;
    static std::shared_ptr<UITableView> initWithFrame(CGRect frame, UITableViewStyle style);

    UITableViewStyle style() const { return style_; }
    std::shared_ptr<UITableViewDataSource> dataSource() const { return dataSource_.lock(); }
    void setDataSource(std::weak_ptr<UITableViewDataSource> dataSource) {
        dataSource_ = std::move(dataSource);
    }
    std::shared_ptr<UITableViewDelegate> delegate() const { return delegate_.lock(); }
    void setDelegate(std::weak_ptr<UITableViewDelegate> delegate) {
        delegate_ = std::move(delegate);
    }
    double rowHeight() const { return rowHeight_; }
    void setRowHeight(double height);
    // Space above the first row (a translucent bar over the table's top). The rows scrolled into
    // it are cut off: they draw and take touches only below it, so that the bar over them
    // stays legible.
    double contentInsetTop() const { return contentInsetTop_; }
    void setContentInsetTop(double inset);
    double contentOffset() const { return contentOffset_; }
    // Scrolls (limited to the rows' extent) and refills the cells on screen.
    void setContentOffset(double offset);

    // Asks the data source again for the row count and the cells on screen.
    void reloadData();
    int numberOfRowsInSection(int section);
    // The cell of a row on screen, or null.
    std::shared_ptr<UITableViewCell> cellForRowAtIndexPath(NSIndexPath indexPath);
    std::vector<std::shared_ptr<UITableViewCell>> visibleCells();
    // Scrolls just enough that the row is wholly on screen.
    void scrollToRowAtIndexPath(NSIndexPath indexPath);
    // A cell of `identifier` from the reuse pool (prepared for reuse), or null.
    std::shared_ptr<UITableViewCell> dequeueReusableCellWithIdentifier(
        const std::string& identifier);

    // Takes the rows away; the data source must already count that many rows fewer, else
    // NSInternalInconsistencyException is raised. The animation shows at once.
    void deleteRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths,
                                UITableViewRowAnimation animation);

    bool isEditing() const { return editing_; }
    void setEditing(bool editing, bool animated);

    // A person's tap on row `row` (scrolled on screen first): the row is selected and the
    // delegate hears of it. False (nothing happens) when the table is not on screen, is in edit
    // mode, or has no such row, or while the application ignores interaction events (these two
    // also make commitDeleteOnRow refuse).
    bool selectRow(int row);
    // A person deletes row `row`: the data source commits the delete editing style for it.
    // False when the table is not on screen, has no such row, the data source takes no commit,
    // or says the row cannot be edited.
    bool commitDeleteOnRow(int row);
    static constexpr double kScrollSlop = 8;
    bool touchBegan(CGPoint point) override;
    void touchMoved(CGPoint point) override;
    void touchEnded(CGPoint point) override;
    // The row whose Delete button shows, -1 for none.
    int rowShowingDeleteConfirmation() const { return confirmingRow_; }

    // The row shown pressed while a finger is down on it (before it moves as a scroll), -1 for
    // none.
    int highlightedRow() const { return highlightedRow_; }

    // The selected row, -1 for none.
    int indexPathForSelectedRow() const { return selectedRow_; }
    void deselectRowAtIndexPath(NSIndexPath indexPath, bool animated);

  protected:
    void drawContent(cairo_t* cr) override;
    std::optional<CGRect> subviewsClip() const override;

  private:
    void loadIfNeeded();
    void highlightRow(int row);
    void layoutCells();
    double maximumOffset() const;
    // The row at `y` (the table's coordinates), -1 for none.
    int rowAtY(double y) const;
    void showDeleteConfirmation(int row);
    void tapRow(int row, CGPoint inCell);

    UITableViewStyle style_ = UITableViewStylePlain;
    std::weak_ptr<UITableViewDataSource> dataSource_;
    std::weak_ptr<UITableViewDelegate> delegate_;
    double rowHeight_ = 44;
    double contentInsetTop_ = 0;
    double contentOffset_ = 0;
    bool loaded_ = false;
    int rowCount_ = 0;
    bool editing_ = false;
    int selectedRow_ = -1;
    int confirmingRow_ = -1;
    int highlightedRow_ = -1;
    // The touch under way: where it began, the offset then, the row it began on, and whether it
    // scrolls.
    CGPoint touchStart_{};
    double touchStartOffset_ = 0;
    int touchRow_ = -1;
    bool scrolling_ = false;
    // The cells on screen by row.
    std::map<int, std::shared_ptr<UITableViewCell>> visible_;
    std::multimap<std::string, std::shared_ptr<UITableViewCell>> reusePool_;
};
