#pragma once
// Catalogue sources ("线路"): the entries of 组合框_线路 and switching between them.

#include <string>
#include <vector>

struct MainForm;

// The route hosts: the "|"-separated key 线路列表 of section 配置项 when it is set (empty pieces
// and surrounding spaces dropped), otherwise the built-in list.
std::vector<std::string> routeHosts();

// Replaces the entries of 组合框_线路 with routeHosts(), entry values 0, 1, 2 ... (item data).
// Leaves no entry selected. GUI thread.
void fillRouteBox(MainForm& form);

// Selects the entry whose value is value; an invalid value (-1, beyond the entries) leaves the box
// without a selection. Does not switch the route. GUI thread.
void selectRouteEntry(MainForm& form, int value);

// Handler of the user picking an entry of 组合框_线路 (wire it to QComboBox::activated, so that
// selectRouteEntry at start-up does not run it): notice, log line, stores "线路", and reloads the
// latest items from the new host. GUI thread.
void switchRoute(MainForm& form);
