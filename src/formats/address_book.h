#pragma once
// The Windows address book file: a header naming six tables (the first the index of the
// records, the others sorted name lists we have no use for), and one record per contact or
// group: a fixed header, the list of its property tags, then each property's tag, size and
// value, as the messaging interface stores properties.
//
// The file is read where it lies through a fixed window; only the index (eight bytes a
// record, bounded) and one record at a time are held. Every count, length and offset is
// checked against the file before it is followed: a header or index that fails is refused
// with EAddressBookDamaged; a record that fails is passed over and noted with its offset
// (damages()), and the rest are read. Each record is read twice, once to check it when the
// file is opened and once to hand it on.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "formats/window_reader.h"
#include "platform/exception.h"

namespace ts {

// A file that is no address book, or whose index cannot be followed: names the file and
// the offset.
class EAddressBookDamaged : public TsException {
public:
    EAddressBookDamaged(const std::string& file, int64_t offset, const std::string& what);
};

namespace wab_layout {
constexpr uint8_t kMagic[16] = {0x9c, 0xcb, 0xcb, 0x8d, 0x13, 0x75, 0xd2, 0x11,
                                0x91, 0x58, 0x00, 0xc0, 0x4f, 0x79, 0x56, 0xa4};
constexpr int64_t kTablesAt = 0x18;
constexpr int kTableCount = 6;
constexpr int64_t kTableDescriptorSize = 16;  // type, entry size, offset, count
constexpr int64_t kHeaderSize = kTablesAt + kTableCount * kTableDescriptorSize;
constexpr uint32_t kIndexTableType = 0xfa0;
constexpr uint32_t kNameTableType = 0x84d0;
constexpr uint32_t kIndexEntrySize = 8;    // record id, record offset
constexpr uint32_t kNameEntrySize = 0x44;  // 32 UTF-16 units, record id
// Record header: kind, unused, record id, property count, header size, two unused words,
// length of the property values that follow the tag list.
constexpr uint32_t kRecordHeaderSize = 0x20;

// Property types (the low word of a tag) and the flag of multiple values.
constexpr uint16_t kTypeLong = 0x0003;
constexpr uint16_t kTypeAnsi = 0x001e;
constexpr uint16_t kTypeUnicode = 0x001f;
constexpr uint16_t kTypeTime = 0x0040;
constexpr uint16_t kTypeBinary = 0x0102;
constexpr uint16_t kMultiple = 0x1000;

// Property ids (the high word of a tag).
enum : uint16_t {
    kObjectType = 0x0ffe,
    kDisplayName = 0x3001,
    kEmailAddress = 0x3003,
    kComment = 0x3004,
    kGeneration = 0x3a05,
    kGivenName = 0x3a06,
    kBusinessPhone = 0x3a08,
    kHomePhone = 0x3a09,
    kSurname = 0x3a11,
    kCompanyName = 0x3a16,
    kTitle = 0x3a17,
    kDepartmentName = 0x3a18,
    kMobilePhone = 0x3a1c,
    kPager = 0x3a21,
    kBusinessFax = 0x3a24,
    kHomeFax = 0x3a25,
    kCountry = 0x3a26,
    kLocality = 0x3a27,
    kStateOrProvince = 0x3a28,
    kStreetAddress = 0x3a29,
    kPostalCode = 0x3a2a,
    kBirthday = 0x3a42,
    kMiddleName = 0x3a44,
    kDisplayNamePrefix = 0x3a45,
    kNickname = 0x3a4f,
    kPersonalHomePage = 0x3a50,
    kBusinessHomePage = 0x3a51,
    kDefaultAddressIndex = 0x3a55,
    kContactEmailAddresses = 0x3a56,
    kHomeCity = 0x3a59,
    kHomeCountry = 0x3a5a,
    kHomePostalCode = 0x3a5b,
    kHomeState = 0x3a5c,
    kHomeStreet = 0x3a5d,
    kGroupMembers = 0x6600,
};
constexpr uint32_t kObjectContact = 6;
constexpr uint32_t kObjectGroup = 8;
}  // namespace wab_layout

struct PostalAddress {
    std::string street, locality, region, postalCode, country;
    bool empty() const { return (street + locality + region + postalCode + country).empty(); }
};

struct AddressEntry {
    struct Phone {
        std::string types;  // vCard TYPE values: "work,voice", "cell", ...
        std::string number;
    };
    struct Date {
        int year, month, day;
    };

    uint32_t id = 0;
    int64_t offset = 0;
    bool group = false;
    std::string displayName, givenName, middleName, surname, prefix, suffix, nickname;
    std::vector<std::string> emails;  // the default one first
    std::vector<Phone> phones;
    PostalAddress home, work;
    std::string company, department, title, note;
    std::optional<Date> birthday;
    std::string homePage, businessPage;
    std::vector<uint32_t> members;  // record ids of a group's members
    int unresolvedMembers = 0;      // members named by something other than a record of the file
};

// An offset as warnings name it ("0x1f4").
std::string addressBookOffset(int64_t offset);

struct AddressBookDamage {
    int64_t offset = 0;
    std::string what;
};

class AddressBookFile {
public:
    // A record's values beyond this are no contact's; real ones hold a few kilobytes.
    static constexpr uint32_t kMaxRecordData = 1 << 18;
    static constexpr uint32_t kMaxProperties = 4096;
    // Real address books hold thousands of entries at most.
    static constexpr uint32_t kMaxEntries = 1 << 18;
    static constexpr size_t kMaxDamagesKept = 100;

    // Reads and checks the header and the index; throws EAddressBookDamaged naming `name`.
    AddressBookFile(Stream& file, std::string name);

    const std::string& name() const { return name_; }
    // The records the index lists that passed every check.
    size_t entryCount() const { return entries_.size(); }
    // Whether a record of this id is listed (a group member that can be pointed to).
    bool lists(uint32_t id) const;

    // Reads each record in index order. Records whose properties cannot be followed, or that
    // are neither a contact nor a group, were passed over and noted when the file was opened.
    void forEachEntry(const std::function<void(const AddressEntry&)>& visit);

    const std::vector<AddressBookDamage>& damages() const { return damages_; }
    int64_t damageCount() const { return damageCount_; }

private:
    struct Listed {
        uint32_t id;
        int64_t offset;
    };
    void noteDamage(int64_t offset, const std::string& what);
    std::optional<AddressEntry> readEntry(const Listed& listed);

    WindowReader reader_;
    std::string name_;
    std::vector<Listed> entries_;  // index order
    std::vector<uint32_t> sortedIds_;
    std::vector<AddressBookDamage> damages_;
    int64_t damageCount_ = 0;
};

}  // namespace ts
