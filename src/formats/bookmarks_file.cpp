#include "formats/bookmarks_file.h"

#include <algorithm>
#include <cctype>

namespace ts {

namespace {

std::string escapeHtml(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default: out.push_back(static_cast<unsigned char>(c) < ' ' ? ' ' : c);
        }
    }
    return out;
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace

std::optional<std::string> shortcutUrl(std::string_view text) {
    bool inSection = false;
    while (!text.empty()) {
        const size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (line.starts_with("[")) {
            inSection = equalsIgnoringCase(line, "[InternetShortcut]");
            continue;
        }
        const size_t equals = line.find('=');
        if (inSection && equals != std::string_view::npos && equalsIgnoringCase(trimmed(line.substr(0, equals)), "URL"))
            return std::string(trimmed(line.substr(equals + 1)));
    }
    return std::nullopt;
}

void writeBookmarksFile(Stream& out, std::vector<Favorite> favorites) {
    std::sort(favorites.begin(), favorites.end(), [](const Favorite& a, const Favorite& b) {
        return a.folders != b.folders ? a.folders < b.folders : a.title < b.title;
    });
    std::string text =
        "<!DOCTYPE NETSCAPE-Bookmark-file-1>\n"
        "<META HTTP-EQUIV=\"Content-Type\" CONTENT=\"text/html; charset=UTF-8\">\n"
        "<TITLE>Bookmarks</TITLE>\n"
        "<H1>Bookmarks</H1>\n"
        "<DL><p>\n";
    std::vector<std::string> open;
    const auto indent = [&] { return std::string(4 * (open.size() + 1), ' '); };
    const auto flush = [&] {
        out.write(text.data(), static_cast<int64_t>(text.size()));
        text.clear();
    };
    for (const Favorite& favorite : favorites) {
        size_t shared = 0;
        while (shared < open.size() && shared < favorite.folders.size() && open[shared] == favorite.folders[shared])
            ++shared;
        while (open.size() > shared) {
            open.pop_back();
            text += indent() + "</DL><p>\n";
        }
        while (open.size() < favorite.folders.size()) {
            text += indent() + "<DT><H3>" + escapeHtml(favorite.folders[open.size()]) + "</H3>\n";
            text += indent() + "<DL><p>\n";
            open.push_back(favorite.folders[open.size()]);
        }
        text += indent() + "<DT><A HREF=\"" + escapeHtml(favorite.url) + "\"";
        if (favorite.added) text += " ADD_DATE=\"" + std::to_string(static_cast<int64_t>(*favorite.added)) + "\"";
        text += ">" + escapeHtml(favorite.title) + "</A>\n";
        if (text.size() >= 64 * 1024) flush();
    }
    while (!open.empty()) {
        open.pop_back();
        text += indent() + "</DL><p>\n";
    }
    text += "</DL><p>\n";
    flush();
}

}  // namespace ts
