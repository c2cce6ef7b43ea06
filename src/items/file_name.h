#pragma once
// A profile path held in two forms: with the user's special folders written as placeholders
// ("[CSIDL_APPDATA]\Microsoft\Address Book"), which is how data files store it so that it
// does not depend on the user, and as the real Windows path in the profile at hand.
#include <array>
#include <string>
#include <string_view>

namespace ts {

class Profile;

struct PlaceholderRow {
    std::string_view name;  // written between "[" and "]", in exactly this case
    int csidl;
};

// Both conversions visit the rows in this order, so when one folder lies inside another
// the earlier row wins. Stored data files carry these names: never reorder or rename.
inline constexpr std::array<PlaceholderRow, 23> kPlaceholderTable = {{
    {"CSIDL_CONTROLS", 0x03},
    {"CSIDL_COOKIES", 0x21},
    {"CSIDL_DESKTOP", 0x00},
    {"CSIDL_DESKTOPDIRECTORY", 0x10},
    {"CSIDL_DRIVES", 0x11},
    {"CSIDL_FAVORITES", 0x06},
    {"CSIDL_FONTS", 0x14},
    {"CSIDL_HISTORY", 0x22},
    {"CSIDL_INTERNET", 0x01},
    {"CSIDL_INTERNET_CACHE", 0x20},
    {"CSIDL_NETHOOD", 0x13},
    {"CSIDL_NETWORK", 0x12},
    {"CSIDL_PERSONAL", 0x05},
    {"CSIDL_PRINTERS", 0x04},
    {"CSIDL_PRINTHOOD", 0x1B},
    {"CSIDL_PROGRAMS", 0x02},
    {"CSIDL_RECENT", 0x08},
    {"CSIDL_SENDTO", 0x09},
    {"CSIDL_STARTMENU", 0x0B},
    {"CSIDL_STARTUP", 0x07},
    {"CSIDL_TEMPLATES", 0x15},
    {"CSIDL_APPDATA", 0x1A},
    {"CSIDL_LOCAL_APPDATA", 0x1C},
}};

// "[" + row name + "]", made once per row: every restored and saved file's name asks.
const std::string& placeholderOf(const PlaceholderRow& row);

class TtsFileName {
public:
    explicit TtsFileName(const Profile& profile) : profile_(&profile) {}

    const std::string& Name() const { return name_; }
    const std::string& RealName() const { return realName_; }

    // Sets the placeholder form and expands it: each placeholder found in the name (exact
    // case) is replaced, ignoring case, by this user's folder.
    void SetName(const std::string& text);
    // Sets the real path and collapses it: each special folder's path found anywhere in it,
    // ignoring case, is replaced by its placeholder. Folders without a path take no part.
    void SetRealName(const std::string& path);

    // Copies both forms; the profile stays this object's own.
    void Assign(const TtsFileName& source);

private:
    const Profile* profile_;
    std::string name_;
    std::string realName_;
};

}  // namespace ts
