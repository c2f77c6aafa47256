#pragma once
// A controller whose view is a table, of which it is the data source and the delegate. Its edit
// mode is the table's. Each time it is about to appear, the selected row is deselected.
//
// Threads: main thread only.

#include <memory>

#include "platform/UIKit/UITableView.h"
#include "platform/UIKit/UIViewController.h"

class UITableViewController : public UIViewController,
                              public UITableViewDataSource,
                              public UITableViewDelegate {
  public:
    explicit UITableViewController(UITableViewStyle style = UITableViewStylePlain)
        : style_(style) {}
    static std::shared_ptr<UITableViewController> initWithStyle(UITableViewStyle style);

    // The view, loaded on first use.
    std::shared_ptr<UITableView> tableView();

    void loadView() override;
    void viewWillAppear(bool animated) override;
    // Also the table's edit mode.
    void setEditing(bool editing, bool animated) override;

    // No rows unless a subclass says otherwise.
    int tableViewNumberOfRowsInSection(UITableView* tableView, int section) override;
    std::shared_ptr<UITableViewCell> tableViewCellForRowAtIndexPath(UITableView* tableView,
                                                                    NSIndexPath indexPath) override;

  private:
    UITableViewStyle style_;
};
