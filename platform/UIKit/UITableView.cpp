#include "platform/UIKit/UITableView.h"

#include <algorithm>
#include <cmath>

#include "platform/Foundation/NSException.h"
#include "platform/Foundation/NSThread.h"
#include "platform/UIKit/UIApplication.h"

namespace {

// A person can touch it now.
bool touchable(UIView& view) {
    return view.isVisibleOnScreen() &&
           !UIApplication::sharedApplication()->isIgnoringInteractionEvents();
}

}  // namespace

std::shared_ptr<UITableView> UITableView::initWithFrame(CGRect frame, UITableViewStyle style) {
    auto table = std::make_shared<UITableView>();
    table->setFrame(frame);
    table->style_ = style;
    table->setBackgroundColor(UIColor::whiteColor());
    return table;
}

void UITableView::setRowHeight(double height) {
    rowHeight_ = height;
    if (loaded_)
        layoutCells();
}

void UITableView::setContentInsetTop(double inset) {
    contentInsetTop_ = inset;
    if (loaded_)
        layoutCells();
}

double UITableView::maximumOffset() const {
    double content = contentInsetTop_ + rowCount_ * rowHeight_;
    return std::max(0.0, content - frame().size.height);
}

void UITableView::setContentOffset(double offset) {
    loadIfNeeded();
    contentOffset_ = std::clamp(offset, 0.0, maximumOffset());
    layoutCells();
}

void UITableView::loadIfNeeded() {
    if (!loaded_)
        reloadData();
}

void UITableView::reloadData() {
    NSThread::assertMainThread("UITableView", __func__);
    loaded_ = true;
    auto source = dataSource();
    rowCount_ = source && source->numberOfSectionsInTableView(this) > 0
                    ? std::max(0, source->tableViewNumberOfRowsInSection(this, 0))
                    : 0;
    if (selectedRow_ >= rowCount_)
        selectedRow_ = -1;
    if (confirmingRow_ >= rowCount_)
        confirmingRow_ = -1;
    contentOffset_ = std::clamp(contentOffset_, 0.0, maximumOffset());
    layoutCells();
}

// Every cell goes back to the pool, then the data source fills the rows on screen anew.
void UITableView::layoutCells() {
    auto self = retained(this);
    for (auto& [row, cell] : visible_) {
        cell->removeFromSuperview();
        reusePool_.emplace(cell->reuseIdentifier(), cell);
    }
    visible_.clear();
    auto source = dataSource();
    if (!source || rowHeight_ <= 0)
        return;
    const double height = frame().size.height;
    const int first =
        std::max(0, static_cast<int>(std::floor((contentOffset_ - contentInsetTop_) / rowHeight_)));
    for (int row = first; row < rowCount_; ++row) {
        const double y = contentInsetTop_ + row * rowHeight_ - contentOffset_;
        if (y >= height)
            break;
        auto cell =
            source->tableViewCellForRowAtIndexPath(this, NSIndexPath::indexPathForRow(row, 0));
        NSAssert(cell != nullptr, "The table's data source gave no cell for a row");
        cell->setFrame(CGRectMake(0, y, frame().size.width, rowHeight_));
        cell->setEditing(editing_, false);
        cell->setShowingDeleteConfirmation(row == confirmingRow_);
        cell->setSelected(row == selectedRow_, false);
        cell->setHighlighted(row == highlightedRow_);
        cell->layoutSubviews();
        addSubview(cell);
        visible_[row] = cell;
    }
}

int UITableView::numberOfRowsInSection(int section) {
    loadIfNeeded();
    return section == 0 ? rowCount_ : 0;
}

std::shared_ptr<UITableViewCell> UITableView::cellForRowAtIndexPath(NSIndexPath indexPath) {
    loadIfNeeded();
    if (indexPath.section != 0)
        return nullptr;
    auto it = visible_.find(indexPath.row);
    return it == visible_.end() ? nullptr : it->second;
}

std::vector<std::shared_ptr<UITableViewCell>> UITableView::visibleCells() {
    loadIfNeeded();
    std::vector<std::shared_ptr<UITableViewCell>> cells;
    for (const auto& [row, cell] : visible_) cells.push_back(cell);
    return cells;
}

void UITableView::scrollToRowAtIndexPath(NSIndexPath indexPath) {
    loadIfNeeded();
    if (indexPath.section != 0 || indexPath.row < 0 || indexPath.row >= rowCount_)
        return;
    const double top = contentInsetTop_ + indexPath.row * rowHeight_;
    const double bottom = top + rowHeight_;
    const double height = frame().size.height;
    // The inset stays clear above the rows, as far as the rows allow.
    if (top - contentInsetTop_ < contentOffset_)
        setContentOffset(top - contentInsetTop_);
    else if (bottom > contentOffset_ + height)
        setContentOffset(bottom - height);
}

std::shared_ptr<UITableViewCell> UITableView::dequeueReusableCellWithIdentifier(
    const std::string& identifier) {
    auto it = reusePool_.find(identifier);
    if (it == reusePool_.end())
        return nullptr;
    auto cell = it->second;
    reusePool_.erase(it);
    cell->prepareForReuse();
    return cell;
}

void UITableView::deleteRowsAtIndexPaths(const std::vector<NSIndexPath>& indexPaths,
                                         UITableViewRowAnimation animation) {
    (void)animation;
    loadIfNeeded();
    auto source = dataSource();
    const int expected = rowCount_ - static_cast<int>(indexPaths.size());
    const int now = source ? source->tableViewNumberOfRowsInSection(this, 0) : 0;
    NSAssert(now == expected, "Invalid update: the data source has " + std::to_string(now) +
                                  " rows after deleting " + std::to_string(indexPaths.size()) +
                                  " of " + std::to_string(rowCount_));
    rowCount_ = now;
    selectedRow_ = -1;
    confirmingRow_ = -1;
    contentOffset_ = std::clamp(contentOffset_, 0.0, maximumOffset());
    layoutCells();
}

void UITableView::setEditing(bool editing, bool animated) {
    editing_ = editing;
    if (!editing)
        confirmingRow_ = -1;
    setNeedsDisplay();
    for (auto& [row, cell] : visible_) cell->setEditing(editing, animated);
}

bool UITableView::selectRow(int row) {
    loadIfNeeded();
    if (!touchable(*this) || editing_ || row < 0 || row >= rowCount_)
        return false;
    auto self = retained(this);
    scrollToRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
    selectedRow_ = row;
    if (auto cell = cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0)))
        cell->setSelected(true, false);
    if (auto d = delegate())
        d->tableViewDidSelectRowAtIndexPath(this, NSIndexPath::indexPathForRow(row, 0));
    return true;
}

void UITableView::deselectRowAtIndexPath(NSIndexPath indexPath, bool animated) {
    if (indexPath.section != 0 || indexPath.row != selectedRow_)
        return;
    selectedRow_ = -1;
    if (auto cell = cellForRowAtIndexPath(indexPath))
        cell->setSelected(false, animated);
}

bool UITableView::commitDeleteOnRow(int row) {
    loadIfNeeded();
    if (!touchable(*this) || row < 0 || row >= rowCount_)
        return false;
    auto source = dataSource();
    const NSIndexPath path = NSIndexPath::indexPathForRow(row, 0);
    if (!source || !source->respondsToCommitEditingStyle() ||
        !source->tableViewCanEditRowAtIndexPath(this, path))
        return false;
    auto self = retained(this);
    scrollToRowAtIndexPath(path);
    source->tableViewCommitEditingStyleForRowAtIndexPath(this, UITableViewCellEditingStyleDelete,
                                                         path);
    return true;
}

int UITableView::rowAtY(double y) const {
    const double inRows = y + contentOffset_ - contentInsetTop_;
    if (inRows < 0 || rowHeight_ <= 0)
        return -1;
    const int row = static_cast<int>(inRows / rowHeight_);
    return row < rowCount_ ? row : -1;
}

void UITableView::showDeleteConfirmation(int row) {
    confirmingRow_ = row;
    for (auto& [shown, cell] : visible_) cell->setShowingDeleteConfirmation(shown == row);
}

bool UITableView::touchBegan(CGPoint point) {
    loadIfNeeded();
    touchStart_ = point;
    touchStartOffset_ = contentOffset_;
    touchRow_ = point.y >= contentInsetTop_ ? rowAtY(point.y) : -1;
    scrolling_ = false;
    // The phone shows the row pressed under the finger; edit mode has its own controls.
    if (!editing_ && touchable(*this))
        highlightRow(touchRow_);
    return true;
}

void UITableView::highlightRow(int row) {
    highlightedRow_ = row;
    for (auto& [shown, cell] : visible_) cell->setHighlighted(shown == row);
}

void UITableView::touchMoved(CGPoint point) {
    const double dy = point.y - touchStart_.y;
    if (!scrolling_ && std::fabs(dy) > kScrollSlop) {
        scrolling_ = true;
        highlightRow(-1);
    }
    if (scrolling_)
        setContentOffset(touchStartOffset_ - dy);
}

void UITableView::touchEnded(CGPoint point) {
    highlightRow(-1);
    const int row = point.y >= contentInsetTop_ ? rowAtY(point.y) : -1;
    if (scrolling_ || row < 0 || row != touchRow_) {
        if (!scrolling_)
            showDeleteConfirmation(-1);
        return;
    }
    auto cell = cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
    const CGPoint inCell =
        cell ? CGPointMake(point.x - cell->frame().origin.x, point.y - cell->frame().origin.y)
             : point;
    tapRow(row, inCell);
}

void UITableView::tapRow(int row, CGPoint inCell) {
    if (!editing_) {
        selectRow(row);
        return;
    }
    auto cell = cellForRowAtIndexPath(NSIndexPath::indexPathForRow(row, 0));
    if (!cell) {
        showDeleteConfirmation(-1);
        return;
    }
    if (row == confirmingRow_ && CGRectContainsPoint(cell->deleteConfirmationRect(), inCell)) {
        showDeleteConfirmation(-1);
        commitDeleteOnRow(row);
        return;
    }
    const bool onControl = CGRectContainsPoint(cell->deleteControlRect(), inCell);
    showDeleteConfirmation(onControl && row != confirmingRow_ ? row : -1);
}

std::optional<CGRect> UITableView::subviewsClip() const {
    const CGRect b = bounds();
    return CGRectMake(0, contentInsetTop_, b.size.width,
                      std::max(0.0, b.size.height - contentInsetTop_));
}

void UITableView::drawContent(cairo_t* cr) {
    loadIfNeeded();
    UIView::drawContent(cr);
}
