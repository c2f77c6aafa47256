#include "platform/UIKit/UITableViewCell.h"

#include <algorithm>
#include <cmath>

namespace {
constexpr double kMargin = 10;
constexpr double kDeleteControlWidth = 32;
constexpr double kConfirmationWidth = 64;
}  // namespace

std::shared_ptr<UITableViewCell> UITableViewCell::initWithStyle(UITableViewCellStyle style,
                                                                std::string reuseIdentifier) {
    auto cell = std::make_shared<UITableViewCell>();
    cell->style_ = style;
    cell->reuseIdentifier_ = std::move(reuseIdentifier);
    cell->setBackgroundColor(UIColor::whiteColor());
    cell->setFrame(CGRectMake(0, 0, 320, 44));
    cell->imageView_ = std::make_shared<UIImageView>();
    cell->textLabel_ = std::make_shared<UILabel>();
    cell->textLabel_->setFont(UIFont::boldSystemFontOfSize(18));
    cell->addSubview(cell->imageView_);
    cell->addSubview(cell->textLabel_);
    if (style != UITableViewCellStyleDefault) {
        cell->detailTextLabel_ = std::make_shared<UILabel>();
        cell->detailTextLabel_->setFont(UIFont::systemFontOfSize(14));
        cell->detailTextLabel_->setTextColor(UIColor::greyColor());
        cell->addSubview(cell->detailTextLabel_);
    }
    // Over the labels.
    cell->deleteConfirmation_ = std::make_shared<UILabel>();
    cell->deleteConfirmation_->setText("Delete");
    cell->deleteConfirmation_->setFont(UIFont::boldSystemFontOfSize(14));
    cell->deleteConfirmation_->setTextColor(UIColor::whiteColor());
    cell->deleteConfirmation_->setBackgroundColor(UIColor::colorWithRed(0.86, 0.1, 0.1, 1));
    cell->deleteConfirmation_->setTextAlignment(UITextAlignmentCenter);
    cell->addSubview(cell->deleteConfirmation_);
    cell->layoutSubviews();
    return cell;
}

void UITableViewCell::setEditing(bool editing, bool animated) {
    (void)animated;
    if (editing != editing_ || (!editing && showingDeleteConfirmation_))
        setNeedsDisplay();
    editing_ = editing;
    if (!editing)
        showingDeleteConfirmation_ = false;
    layoutSubviews();
}

CGRect UITableViewCell::deleteControlRect() const {
    return CGRectMake(0, 0, kDeleteControlWidth, frame().size.height);
}

CGRect UITableViewCell::deleteConfirmationRect() const {
    const double h = frame().size.height;
    return CGRectMake(frame().size.width - kMargin - kConfirmationWidth, h / 2 - 15,
                      kConfirmationWidth, 30);
}

void UITableViewCell::setSelected(bool selected, bool animated) {
    (void)animated;
    if (selected != selected_)
        setNeedsDisplay();
    selected_ = selected;
}

void UITableViewCell::setHighlighted(bool highlighted) {
    if (highlighted != highlighted_)
        setNeedsDisplay();
    highlighted_ = highlighted;
}

void UITableViewCell::prepareForReuse() {
    selected_ = false;
    highlighted_ = false;
    showingDeleteConfirmation_ = false;
}

void UITableViewCell::setShowingDeleteConfirmation(bool showing) {
    if ((showing && editing_) != showingDeleteConfirmation_)
        setNeedsDisplay();
    showingDeleteConfirmation_ = showing && editing_;
    layoutSubviews();
}

void UITableViewCell::layoutSubviews() {
    const double h = frame().size.height, w = frame().size.width;
    deleteConfirmation_->setFrame(deleteConfirmationRect());
    deleteConfirmation_->setHidden(!showingDeleteConfirmation_);
    double x = editing_ ? kDeleteControlWidth : 0;
    if (imageView_->image()) {
        imageView_->setHidden(false);
        imageView_->setFrame(CGRectMake(x, 0, h, h));
        x += h;
    } else {
        imageView_->setHidden(true);
    }
    x += kMargin;
    const double width = std::max(0.0, w - x - kMargin);
    if (detailTextLabel_) {
        textLabel_->setFrame(CGRectMake(x, h * 0.1, width, h * 0.45));
        detailTextLabel_->setFrame(CGRectMake(x, h * 0.55, width, h * 0.35));
    } else {
        textLabel_->setFrame(CGRectMake(x, 0, width, h));
    }
}

void UITableViewCell::drawContent(cairo_t* cr) {
    // Set-up of the labels may have changed since the table placed the cell.
    layoutSubviews();
    const double h = frame().size.height, w = frame().size.width;
    if (selected_ || highlighted_)
        cairo_set_source_rgb(cr, 0.02, 0.45, 0.93);
    else
        backgroundColor().setSource(cr);
    cairo_rectangle(cr, 0, 0, w, h);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
    cairo_rectangle(cr, 0, h - 1, w, 1);
    cairo_fill(cr);
    if (editing_) {
        // The delete control: a red disc with a white bar, upright while the Delete button
        // asks for confirmation.
        const double cx = kDeleteControlWidth / 2, cy = h / 2;
        cairo_set_source_rgb(cr, 0.86, 0.1, 0.1);
        cairo_arc(cr, cx, cy, 10, 0, 2 * M_PI);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 1, 1, 1);
        if (showingDeleteConfirmation_)
            cairo_rectangle(cr, cx - 1.5, cy - 6, 3, 12);
        else
            cairo_rectangle(cr, cx - 6, cy - 1.5, 12, 3);
        cairo_fill(cr);
    }
}
