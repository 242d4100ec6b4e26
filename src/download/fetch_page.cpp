#include "download/fetch_page.h"

std::string fetchPage(const std::string&, const FetchPageOptions&) { return {}; }
std::string hostOf(const std::string&, bool) { return {}; }
int portOf(const std::string&) { return 80; }
std::string pathOf(const std::string&) { return "/"; }
