#include "formats/address_book.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <unordered_set>

#include "platform/ansi_text.h"
#include "platform/unicode.h"

namespace ts {

using namespace wab_layout;

namespace {

// UTF-16LE up to its terminating zero; unpaired surrogates become U+FFFD so that the text
// stays valid UTF-8.
std::string fromUtf16(const uint8_t* p, size_t length) {
    std::string out;
    for (size_t i = 0; i + 1 < length; i += 2) {
        char32_t unit = littleEndian16(p + i);
        if (unit == 0) break;
        if (unit >= 0xd800 && unit < 0xdc00 && i + 3 < length) {
            const char32_t low = littleEndian16(p + i + 2);
            if (low >= 0xdc00 && low < 0xe000) {
                unicode::appendUtf8(out, 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00));
                i += 2;
                continue;
            }
        }
        unicode::appendUtf8(out, unicode::isSurrogate(unit) ? U'\uFFFD' : unit);
    }
    return out;
}

std::string fromAnsiText(const uint8_t* p, size_t length) {
    const auto end = std::find(p, p + length, uint8_t{0});
    return fromAnsi(std::string_view(reinterpret_cast<const char*>(p), static_cast<size_t>(end - p)));
}

// The properties of one record, as found: tag and the bytes of each value (one for a single
// value, several for multiple values).
struct Property {
    uint32_t tag;
    std::vector<std::pair<const uint8_t*, size_t>> values;
    uint16_t id() const { return static_cast<uint16_t>(tag >> 16); }
    uint16_t type() const { return static_cast<uint16_t>(tag & 0xffff); }
};

std::optional<std::string> textOf(const Property& property, size_t index = 0) {
    const uint16_t type = property.type() & ~kMultiple;
    if (index >= property.values.size()) return std::nullopt;
    const auto [p, length] = property.values[index];
    if (type == kTypeUnicode) return fromUtf16(p, length);
    if (type == kTypeAnsi) return fromAnsiText(p, length);
    return std::nullopt;
}

// A file time (100 ns since 1601) to a calendar date. Birthdays are stored as a local
// midnight turned into UTC, so half a day is added before the day is taken: any zone
// within twelve hours of UTC keeps its date.
std::optional<AddressEntry::Date> dateOf(uint64_t fileTime) {
    constexpr int64_t kTicksPerDay = 864000000000LL;
    constexpr int64_t kDaysTo1970 = 134774;
    if (fileTime > static_cast<uint64_t>(INT64_MAX) - kTicksPerDay) return std::nullopt;
    const int64_t days = static_cast<int64_t>((fileTime + kTicksPerDay / 2) / kTicksPerDay) - kDaysTo1970;
    // Howard Hinnant's days-to-civil.
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    const int64_t year = yoe + era * 400 + (month <= 2);
    if (year < 1 || year > 9999) return std::nullopt;
    return AddressEntry::Date{static_cast<int>(year), month, day};
}

}  // namespace

std::string addressBookOffset(int64_t offset) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(offset));
    return text;
}

EAddressBookDamaged::EAddressBookDamaged(const std::string& file, int64_t offset, const std::string& what)
    : TsException(file + ": damaged at offset " + addressBookOffset(offset) + ": " + what) {}

AddressBookFile::AddressBookFile(Stream& file, std::string name) : reader_(file), name_(std::move(name)) {
    if (!reader_.holds(0, kHeaderSize)) throw EAddressBookDamaged(name_, 0, "too short for an address book file");
    if (std::memcmp(reader_.at(0, sizeof kMagic), kMagic, sizeof kMagic) != 0)
        throw EAddressBookDamaged(name_, 0, "not an address book file (its header is not one)");
    const uint8_t* index = reader_.at(kTablesAt, kTableDescriptorSize);
    const uint32_t type = littleEndian32(index), entrySize = littleEndian32(index + 4);
    const int64_t at = littleEndian32(index + 8);
    const uint32_t count = littleEndian32(index + 12);
    if (type != kIndexTableType || entrySize != kIndexEntrySize)
        throw EAddressBookDamaged(name_, kTablesAt, "the first table is not the index of the records");
    if (at < kHeaderSize || !reader_.holds(at, int64_t{count} * kIndexEntrySize))
        throw EAddressBookDamaged(name_, kTablesAt + 8, "the index of the records runs past the end of the file");
    if (count > kMaxEntries)
        throw EAddressBookDamaged(name_, kTablesAt + 12, "the index lists more records than any address book holds");

    std::vector<Listed> listed;
    listed.reserve(count);
    for (uint32_t i = 0; i < count; ++i) {
        const uint8_t* entry = reader_.at(at + int64_t{i} * kIndexEntrySize, kIndexEntrySize);
        listed.push_back(Listed{littleEndian32(entry), littleEndian32(entry + 4)});
    }
    // Each record must lie inside the file, after the header and the index, and apart from
    // every other: two entries sharing bytes are a loop or a forgery, never two contacts.
    std::vector<size_t> byOffset(listed.size());
    for (size_t i = 0; i < byOffset.size(); ++i) byOffset[i] = i;
    std::stable_sort(byOffset.begin(), byOffset.end(),
                     [&](size_t a, size_t b) { return listed[a].offset < listed[b].offset; });
    std::vector<bool> sound(listed.size(), false);
    int64_t previousEnd = 0;
    const int64_t indexEnd = at + int64_t{count} * kIndexEntrySize;
    for (size_t i : byOffset) {
        const int64_t offset = listed[i].offset;
        if (offset < kHeaderSize || !reader_.holds(offset, kRecordHeaderSize)) {
            noteDamage(offset, "a record lies outside the file");
            continue;
        }
        const uint8_t* head = reader_.at(offset, kRecordHeaderSize);
        const uint32_t properties = littleEndian32(head + 12);
        const uint32_t headerSize = littleEndian32(head + 16);
        const uint32_t dataLength = littleEndian32(head + 28);
        if (headerSize != kRecordHeaderSize || properties > kMaxProperties || dataLength > kMaxRecordData) {
            noteDamage(offset, "a record's header is not one this program knows");
            continue;
        }
        const int64_t end = offset + kRecordHeaderSize + 4 * int64_t{properties} + dataLength;
        if (!reader_.holds(offset, end - offset)) {
            noteDamage(offset, "a record runs past the end of the file");
            continue;
        }
        if (offset < indexEnd && end > at) {
            noteDamage(offset, "a record lies over the index");
            continue;
        }
        if (offset < previousEnd) {
            noteDamage(offset, "a record overlaps another (the index lists one place twice)");
            continue;
        }
        previousEnd = end;
        sound[i] = true;
    }
    std::unordered_set<uint32_t> ids;
    for (size_t i = 0; i < listed.size(); ++i) {
        if (!sound[i]) continue;
        if (!ids.insert(listed[i].id).second) {
            noteDamage(listed[i].offset, "two records carry the same id");
            continue;
        }
        // Read once here, so that a group never names a member whose record turns out
        // unreadable: its MEMBER line would point at no card.
        if (readEntry(listed[i])) entries_.push_back(listed[i]);
    }
    for (const Listed& entry : entries_) sortedIds_.push_back(entry.id);
    std::sort(sortedIds_.begin(), sortedIds_.end());
}

bool AddressBookFile::lists(uint32_t id) const {
    return std::binary_search(sortedIds_.begin(), sortedIds_.end(), id);
}

void AddressBookFile::noteDamage(int64_t offset, const std::string& what) {
    ++damageCount_;
    if (damages_.size() < kMaxDamagesKept) damages_.push_back(AddressBookDamage{offset, what});
}

void AddressBookFile::forEachEntry(const std::function<void(const AddressEntry&)>& visit) {
    for (const Listed& listed : entries_)
        if (auto entry = readEntry(listed)) visit(*entry);
}

std::optional<AddressEntry> AddressBookFile::readEntry(const Listed& listed) {
    // The window may move between the two reads: nothing of the first is used after the
    // second.
    const uint8_t* head = reader_.at(listed.offset, kRecordHeaderSize);
    const uint32_t count = littleEndian32(head + 12);
    const int64_t length = kRecordHeaderSize + 4 * int64_t{count} + littleEndian32(head + 28);
    const uint8_t* window = reader_.at(listed.offset, length);
    const std::vector<uint8_t> bytes(window, window + length);
    head = bytes.data();
    const uint8_t* tags = bytes.data() + kRecordHeaderSize;
    const uint8_t* data = tags + 4 * size_t{count};
    const uint8_t* const end = bytes.data() + bytes.size();
    const auto fail = [&](const uint8_t* at, const std::string& what) {
        noteDamage(listed.offset + (at - bytes.data()), what);
        return std::nullopt;
    };
    if (littleEndian32(head + 8) != listed.id)
        return fail(head + 8, "a record does not carry the id its index entry gives");

    std::vector<Property> properties;
    properties.reserve(count);
    const uint8_t* p = data;
    for (uint32_t i = 0; i < count; ++i) {
        if (end - p < 8) return fail(p, "a record's properties run past its length");
        Property property{littleEndian32(p), {}};
        if (property.tag != littleEndian32(tags + 4 * i))
            return fail(p, "a property is not the one the record's tag list names");
        if (property.type() & kMultiple) {
            if (end - p < 12) return fail(p, "a record's properties run past its length");
            const uint32_t values = littleEndian32(p + 4), size = littleEndian32(p + 8);
            p += 12;
            if (size > static_cast<size_t>(end - p) || values > size / 4)
                return fail(p - 12, "a property's values run past the record");
            const uint8_t* valuesEnd = p + size;
            for (uint32_t v = 0; v < values; ++v) {
                if (valuesEnd - p < 4 || littleEndian32(p) > static_cast<size_t>(valuesEnd - p - 4))
                    return fail(p, "a property's value runs past its size");
                property.values.emplace_back(p + 4, littleEndian32(p));
                p += 4 + littleEndian32(p);
            }
            if (p != valuesEnd) return fail(p, "a property's values do not fill its size");
        } else {
            const uint32_t size = littleEndian32(p + 4);
            p += 8;
            if (size > static_cast<size_t>(end - p)) return fail(p - 8, "a property's value runs past the record");
            property.values.emplace_back(p, size);
            p += size;
        }
        properties.push_back(std::move(property));
    }

    AddressEntry entry;
    entry.id = listed.id;
    entry.offset = listed.offset;
    std::optional<uint32_t> objectType, defaultIndex;
    std::vector<std::string> addresses;
    std::string primary;
    std::map<uint16_t, std::string> texts;
    for (const Property& property : properties) {
        const uint16_t type = property.type();
        const auto number = [&]() -> std::optional<uint32_t> {
            if (type != kTypeLong || property.values[0].second != 4) return std::nullopt;
            return littleEndian32(property.values[0].first);
        };
        switch (property.id()) {
            case kObjectType: objectType = number(); break;
            case kDefaultAddressIndex: defaultIndex = number(); break;
            case kContactEmailAddresses:
                for (size_t v = 0; v < property.values.size(); ++v)
                    if (auto text = textOf(property, v); text && !text->empty()) addresses.push_back(*text);
                break;
            case kBirthday:
                if (type == kTypeTime && property.values[0].second == 8)
                    entry.birthday = dateOf(uint64_t{littleEndian32(property.values[0].first)} |
                                            uint64_t{littleEndian32(property.values[0].first + 4)} << 32);
                break;
            case kGroupMembers:
                if (type != (kTypeBinary | kMultiple)) break;
                // A member of the book is named by its record id; anything longer names an
                // address kept only in the group.
                for (const auto& [value, size] : property.values) {
                    if (size == 4 && lists(littleEndian32(value))) entry.members.push_back(littleEndian32(value));
                    else ++entry.unresolvedMembers;
                }
                break;
            default:
                if (!(type & kMultiple))
                    if (auto text = textOf(property)) texts[property.id()] = *text;
        }
    }
    entry.group = objectType == kObjectGroup || (!objectType && !entry.members.empty());
    if (objectType && *objectType != kObjectContact && *objectType != kObjectGroup)
        return fail(bytes.data(),
                    "a record is neither a contact nor a group (object type " + std::to_string(*objectType) + ")");

    const auto take = [&](uint16_t id) {
        auto found = texts.find(id);
        return found == texts.end() ? std::string() : found->second;
    };
    entry.displayName = take(kDisplayName);
    entry.givenName = take(kGivenName);
    entry.middleName = take(kMiddleName);
    entry.surname = take(kSurname);
    entry.prefix = take(kDisplayNamePrefix);
    entry.suffix = take(kGeneration);
    entry.nickname = take(kNickname);
    entry.company = take(kCompanyName);
    entry.department = take(kDepartmentName);
    entry.title = take(kTitle);
    entry.note = take(kComment);
    entry.homePage = take(kPersonalHomePage);
    entry.businessPage = take(kBusinessHomePage);
    entry.work =
        PostalAddress{take(kStreetAddress), take(kLocality), take(kStateOrProvince), take(kPostalCode), take(kCountry)};
    entry.home =
        PostalAddress{take(kHomeStreet), take(kHomeCity), take(kHomeState), take(kHomePostalCode), take(kHomeCountry)};
    static const std::pair<uint16_t, const char*> kPhones[] = {
        {kHomePhone, "home,voice"}, {kBusinessPhone, "work,voice"}, {kMobilePhone, "cell"},
        {kHomeFax, "home,fax"},     {kBusinessFax, "work,fax"},     {kPager, "pager"}};
    for (const auto& [id, types] : kPhones)
        if (std::string number = take(id); !number.empty()) entry.phones.push_back({types, number});

    // The default address first: the one the index names, else the single address field.
    primary = take(kEmailAddress);
    if (defaultIndex && *defaultIndex < addresses.size()) primary = addresses[*defaultIndex];
    if (!primary.empty()) {
        entry.emails.push_back(primary);
        for (const std::string& address : addresses)
            if (address != primary) entry.emails.push_back(address);
    } else {
        entry.emails = addresses;
    }
    return entry;
}

}  // namespace ts
