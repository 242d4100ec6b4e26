#pragma once
// Catalogue sources ("线路"): the hosts 组合框_线路 lists (CatalogueBrowser shows and switches
// them).

#include <string>
#include <vector>

// The route hosts: the "|"-separated key 线路列表 of section 配置项 when it is set (empty pieces
// and surrounding spaces dropped), otherwise the built-in list.
std::vector<std::string> routeHosts();
