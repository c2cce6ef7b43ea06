#pragma once
// Favorites into the bookmark file format every current browser and mail program imports
// (the one that began with Netscape): folders as nested lists, each link with its address,
// its title and, when known, the time it was added.
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/stream/stream.h"

namespace ts {

struct Favorite {
    std::vector<std::string> folders;  // from the favorites folder down, host text
    std::string title;
    std::string url;
    std::optional<std::time_t> added;
};

// The address of an internet shortcut file's text: the URL value of its [InternetShortcut]
// section; no value when it has none.
std::optional<std::string> shortcutUrl(std::string_view text);

// Writes the bookmark file: each folder once, holding its links and folders, sorted by name
// within a folder; text as UTF-8 with HTML's special characters escaped.
void writeBookmarksFile(Stream& out, std::vector<Favorite> favorites);

}  // namespace ts
