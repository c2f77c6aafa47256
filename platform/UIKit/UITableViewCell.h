#pragma once
// One row of a table: a text label, in the subtitle style a detail text label below it, and an
// image view at the left. Cells carry a reuse identifier by which the table hands them back to
// its data source (UITableView::dequeueReusableCellWithIdentifier).
//
// Threads: main thread only. The cell retains its labels and image view.

#include <memory>
#include <string>

#include "platform/UIKit/UIImageView.h"
#include "platform/UIKit/UILabel.h"
#include "platform/UIKit/UIView.h"

enum UITableViewCellStyle {
    UITableViewCellStyleDefault = 0,
    UITableViewCellStyleValue1 = 1,
    UITableViewCellStyleValue2 = 2,
    UITableViewCellStyleSubtitle = 3,
};

class UITableViewCell : public UIView {
  public:
    UITableViewCell() = default;
    static std::shared_ptr<UITableViewCell> initWithStyle(UITableViewCellStyle style,
                                                          std::string reuseIdentifier);

    UITableViewCellStyle style() const { return style_; }
    const std::string& reuseIdentifier() const { return reuseIdentifier_; }
    const std::shared_ptr<UILabel>& textLabel() const { return textLabel_; }
    // Null in the default style.
    const std::shared_ptr<UILabel>& detailTextLabel() const { return detailTextLabel_; }
    const std::shared_ptr<UIImageView>& imageView() const { return imageView_; }

    bool isEditing() const { return editing_; }
    // Edit mode shows the delete control at the left and moves the content right.
    void setEditing(bool editing, bool animated);
    // After a touch on the delete control, edit mode shows the Delete button that confirms the
    // deletion at the right.
    bool showingDeleteConfirmation() const { return showingDeleteConfirmation_; }
    // Shown in edit mode only; leaving edit mode hides it.
    void setShowingDeleteConfirmation(bool showing);
    // Where the delete control and the Delete button lie, in the cell's coordinates.
    CGRect deleteControlRect() const;
    CGRect deleteConfirmationRect() const;
    bool isSelected() const { return selected_; }
    void setSelected(bool selected, bool animated);
    // Shown pressed while a finger is down on the row: in the selection colour, as selected.
    bool isHighlighted() const { return highlighted_; }
    void setHighlighted(bool highlighted);

    // Called by the table before it hands the cell out again: not selected, not highlighted.
    virtual void prepareForReuse();
    // Places the image and the labels in the cell's current bounds.
    void layoutSubviews();

  protected:
    void drawContent(cairo_t* cr) override;

  private:
    UITableViewCellStyle style_ = UITableViewCellStyleDefault;
    std::string reuseIdentifier_;
    std::shared_ptr<UILabel> textLabel_;
    std::shared_ptr<UILabel> detailTextLabel_;
    std::shared_ptr<UIImageView> imageView_;
    std::shared_ptr<UILabel> deleteConfirmation_;  // the Delete button
    bool editing_ = false;
    bool showingDeleteConfirmation_ = false;
    bool selected_ = false;
    bool highlighted_ = false;
};
