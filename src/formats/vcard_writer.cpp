#include "formats/vcard_writer.h"

#include <cstdio>

namespace ts {

namespace {

constexpr size_t kMaxLineOctets = 75;

// FNV-1a, then a finaliser that spreads a change of the last byte over every bit, so the
// UIDs of neighbouring records do not share their first digits.
uint64_t hashOf(std::string_view text, uint64_t hash) {
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 0x100000001b3ULL;
    }
    hash = (hash ^ (hash >> 30)) * 0xbf58476d1ce4e5b9ULL;
    hash = (hash ^ (hash >> 27)) * 0x94d049bb133111ebULL;
    return hash ^ (hash >> 31);
}

// Line breaks and other controls have no place in an address; its commas are escaped like
// any value's, as the standard asks for readers that split every value at commas.
std::string uriValue(std::string_view text) {
    std::string out;
    for (char c : text)
        if (static_cast<unsigned char>(c) >= ' ' && c != 0x7f) out.push_back(c);
    return vcardEscaped(out);
}

std::string structured(std::initializer_list<std::string_view> parts) {
    std::string out;
    bool first = true;
    for (std::string_view part : parts) {
        if (!first) out += ';';
        out += vcardEscaped(part);
        first = false;
    }
    return out;
}

}  // namespace

std::string vcardEscaped(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        switch (c) {
            case '\\': out += "\\\\"; break;
            case ',': out += "\\,"; break;
            case ';': out += "\\;"; break;
            case '\r':
                if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
                out += "\\n";
                break;
            case '\n': out += "\\n"; break;
            default:
                // Other controls would end or break the line in readers; a tab stays.
                if (static_cast<unsigned char>(c) >= ' ' || c == '\t') out.push_back(c);
        }
    }
    return out;
}

std::string vcardFolded(std::string_view line) {
    std::string out;
    size_t room = kMaxLineOctets;
    while (line.size() > room) {
        size_t cut = room;
        // Back up to the start of a UTF-8 sequence.
        while (cut > 0 && (static_cast<unsigned char>(line[cut]) & 0xc0) == 0x80) --cut;
        if (cut == 0) cut = room;
        out.append(line.substr(0, cut));
        out += "\r\n ";
        line.remove_prefix(cut);
        room = kMaxLineOctets - 1;  // the leading space counts
    }
    out.append(line);
    out += "\r\n";
    return out;
}

std::string VCardWriter::uidOf(uint32_t id) const {
    const std::string key = seed_ + '\0' + std::to_string(id);
    const uint64_t high = hashOf(key, 0xcbf29ce484222325ULL);
    const uint64_t low = hashOf(key, high ^ 0x9e3779b97f4a7c15ULL);
    // A name-based UUID of our own hashing: version 8 (custom), the RFC 4122 variant.
    char text[48];
    std::snprintf(text, sizeof text, "%08x-%04x-8%03x-%04x-%012llx", static_cast<unsigned>(high >> 32),
                  static_cast<unsigned>((high >> 16) & 0xffff), static_cast<unsigned>(high & 0xfff),
                  static_cast<unsigned>(0x8000 | ((low >> 48) & 0x3fff)),
                  static_cast<unsigned long long>(low & 0xffffffffffffULL));
    return std::string("urn:uuid:") + text;
}

void VCardWriter::line(std::string_view text) {
    const std::string folded = vcardFolded(text);
    out_.write(folded.data(), static_cast<int64_t>(folded.size()));
}

void VCardWriter::write(const AddressEntry& entry) {
    line("BEGIN:VCARD");
    line("VERSION:4.0");
    line("UID:" + uidOf(entry.id));
    if (entry.group) line("KIND:group");
    // FN is the one property every card must have.
    std::string name = entry.displayName;
    if (name.empty()) {
        for (const std::string* part :
             {&entry.prefix, &entry.givenName, &entry.middleName, &entry.surname, &entry.suffix})
            if (!part->empty()) name += (name.empty() ? "" : " ") + *part;
    }
    if (name.empty() && !entry.emails.empty()) name = entry.emails.front();
    line("FN:" + vcardEscaped(name));
    if (!entry.group)
        line("N:" + structured({entry.surname, entry.givenName, entry.middleName, entry.prefix, entry.suffix}));
    if (!entry.nickname.empty()) line("NICKNAME:" + vcardEscaped(entry.nickname));
    for (size_t i = 0; i < entry.emails.size(); ++i)
        line(std::string(i == 0 ? "EMAIL;PREF=1:" : "EMAIL:") + vcardEscaped(entry.emails[i]));
    for (const AddressEntry::Phone& phone : entry.phones)
        line("TEL;TYPE=" + phone.types + ":" + vcardEscaped(phone.number));
    for (const auto& [type, address] : {std::pair{"home", &entry.home}, std::pair{"work", &entry.work}}) {
        if (address->empty()) continue;
        line(std::string("ADR;TYPE=") + type + ":" +
             structured(
                 {"", "", address->street, address->locality, address->region, address->postalCode, address->country}));
    }
    if (!entry.department.empty()) line("ORG:" + structured({entry.company, entry.department}));
    else if (!entry.company.empty()) line("ORG:" + vcardEscaped(entry.company));
    if (!entry.title.empty()) line("TITLE:" + vcardEscaped(entry.title));
    if (!entry.note.empty()) line("NOTE:" + vcardEscaped(entry.note));
    if (entry.birthday) {
        char date[16];
        std::snprintf(date, sizeof date, "%04d%02d%02d", entry.birthday->year, entry.birthday->month,
                      entry.birthday->day);
        line(std::string("BDAY:") + date);
    }
    if (!entry.homePage.empty()) line("URL;TYPE=home:" + uriValue(entry.homePage));
    if (!entry.businessPage.empty()) line("URL;TYPE=work:" + uriValue(entry.businessPage));
    for (uint32_t member : entry.members) line("MEMBER:" + uidOf(member));
    line("END:VCARD");
}

std::string AddressBookConversion::problems(const std::string& file) const {
    std::string text;
    for (const AddressBookDamage& damage : damages) {
        text += std::string(text.empty() ? ": records not understood, at offset " : "; ") +
                addressBookOffset(damage.offset) + ": " + damage.what;
    }
    if (damageCount > static_cast<int64_t>(damages.size()))
        text += "; " + std::to_string(damageCount - static_cast<int64_t>(damages.size())) + " more";
    if (unresolvedMembers > 0)
        text += (text.empty() ? ": " : "; ") + std::to_string(unresolvedMembers) +
                (unresolvedMembers == 1 ? " group member is an address" : " group members are addresses") +
                " kept only in a group, not a card";
    return text.empty() ? text : file + text;
}

AddressBookConversion convertAddressBook(Stream& book, const std::string& name, Stream& out) {
    AddressBookFile file(book, name);
    const size_t slash = name.find_last_of("\\/");
    VCardWriter writer(out, slash == std::string::npos ? name : name.substr(slash + 1));
    AddressBookConversion result;
    file.forEachEntry([&](const AddressEntry& entry) {
        writer.write(entry);
        ++(entry.group ? result.groups : result.contacts);
        result.unresolvedMembers += entry.unresolvedMembers;
    });
    result.damages = file.damages();
    result.damageCount = file.damageCount();
    return result;
}

}  // namespace ts
