#pragma once
// The short names the command line gives the four items, and the lists made of them.
#include <string>
#include <vector>

namespace ts::cli {

// "addressbook", "favorites", "ie", "oe", in source-set order.
const std::vector<std::string>& itemShortNames();
// The item caption of a short name; a usage error for anything else.
std::string captionOf(const std::string& command, const std::string& shortName);
// A comma list of short names, or "all", as captions in source-set order, without repeats.
std::vector<std::string> parseItemList(const std::string& command, const std::string& list);

}  // namespace ts::cli
