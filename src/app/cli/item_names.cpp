#include "app/cli/item_names.h"

#include <algorithm>
#include <array>
#include <utility>

#include "app/cli/cli_errors.h"

namespace ts::cli {

namespace {

const std::array<std::pair<const char*, const char*>, 4> kItems = {{
    {"addressbook", "Windows Address Book"},
    {"favorites", "Favorites"},
    {"ie", "IE Settings"},
    {"oe", "Outlook Express Data"},
}};

}  // namespace

const std::vector<std::string>& itemShortNames() {
    static const std::vector<std::string> names = {"addressbook", "favorites", "ie", "oe"};
    return names;
}

std::string captionOf(const std::string& command, const std::string& shortName) {
    for (const auto& [name, caption] : kItems)
        if (shortName == name) return caption;
    throw UsageError(command, "unknown item \"" + shortName + "\" (addressbook, favorites, ie, oe or all)");
}

std::vector<std::string> parseItemList(const std::string& command, const std::string& list) {
    std::vector<bool> chosen(kItems.size(), false);
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = std::min(list.find(',', start), list.size());
        std::string name = list.substr(start, comma - start);
        if (name == "all") {
            std::fill(chosen.begin(), chosen.end(), true);
        } else {
            std::string caption = captionOf(command, name);
            for (size_t i = 0; i < kItems.size(); ++i)
                if (caption == kItems[i].second) chosen[i] = true;
        }
        start = comma + 1;
    }
    std::vector<std::string> captions;
    for (size_t i = 0; i < kItems.size(); ++i)
        if (chosen[i]) captions.push_back(kItems[i].second);
    return captions;
}

}  // namespace ts::cli
