#include "platform/UIKit/UITableViewController.h"

#include "platform/Device/Screen.h"

std::shared_ptr<UITableViewController> UITableViewController::initWithStyle(
    UITableViewStyle style) {
    return std::make_shared<UITableViewController>(style);
}

std::shared_ptr<UITableView> UITableViewController::tableView() {
    return std::dynamic_pointer_cast<UITableView>(view());
}

void UITableViewController::loadView() {
    auto table =
        UITableView::initWithFrame(CGRectMake(0, 0, Screen::kWidth, Screen::kHeight), style_);
    auto self = retained(this);
    table->setDataSource(std::static_pointer_cast<UITableViewDataSource>(self));
    table->setDelegate(std::static_pointer_cast<UITableViewDelegate>(self));
    table->setEditing(isEditing(), false);
    setView(table);
}

void UITableViewController::viewWillAppear(bool animated) {
    UIViewController::viewWillAppear(animated);
    auto table = tableView();
    if (table && table->indexPathForSelectedRow() >= 0)
        table->deselectRowAtIndexPath(
            NSIndexPath::indexPathForRow(table->indexPathForSelectedRow(), 0), animated);
}

void UITableViewController::setEditing(bool editing, bool animated) {
    UIViewController::setEditing(editing, animated);
    if (auto table = tableView())
        table->setEditing(editing, animated);
}

int UITableViewController::tableViewNumberOfRowsInSection(UITableView* tableView, int section) {
    (void)tableView;
    (void)section;
    return 0;
}

std::shared_ptr<UITableViewCell> UITableViewController::tableViewCellForRowAtIndexPath(
    UITableView* tableView, NSIndexPath indexPath) {
    (void)tableView;
    (void)indexPath;
    return nullptr;
}
