// The address book reader and the vCard writer on files made by the independent generator:
// the cards are read back by vobject and compared field by field; hostile files end in a
// clear error naming the file and the offset, or in the damaged record alone passed over.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "formats/vcard_writer.h"
#include "platform/exception.h"
#include "support/address_book_files.h"
#include "support/temp_dir.h"

namespace ts {
namespace {

using test::TempDir;

// A generated book of this variant converted; its cards in `cards`, the generator's
// expectations in DIR/a.json.
AddressBookConversion convertMade(const TempDir& dir, const char* variant, MemoryStream& cards,
                                  test::MadeAddressBook* made = nullptr) {
    const auto book = test::makeAddressBook(variant, dir.file("a.wab"), dir.file("a.json"));
    if (made) *made = book;
    MemoryStream file(test::readHostFile(dir.file("a.wab")));
    return convertAddressBook(file, "C:\\a.wab", cards);
}

std::vector<std::string> membersOf(const MemoryStream& cards) {
    const std::string text(cards.bytes().begin(), cards.bytes().end());
    std::vector<std::string> members;
    for (size_t at = text.find("MEMBER:"); at != std::string::npos; at = text.find("MEMBER:", at + 1))
        members.push_back(text.substr(at + 7, text.find("\r\n", at) - at - 7));
    return members;
}

TEST(AddressBook, EveryFieldOfTheGeneratedBookReadsBackThroughAnIndependentVCardReader) {
    TempDir dir;
    MemoryStream cards;
    const AddressBookConversion done = convertMade(dir, "sound", cards);
    EXPECT_EQ(done.contacts, 3);
    EXPECT_EQ(done.groups, 1);
    EXPECT_EQ(done.damageCount, 0);
    test::writeHostFile(dir.file("contacts.vcf"), cards.bytes());
    EXPECT_EQ(test::vcardDifferences(dir.file("contacts.vcf"), dir.file("a.json")), "");
    // The record the index no longer lists (a deleted contact) is not exported.
    const std::string text(cards.bytes().begin(), cards.bytes().end());
    EXPECT_EQ(text.find("Deleted"), std::string::npos);
}

TEST(AddressBook, ABookLongerThanTheReadersWindowIsReadWhole) {
    TempDir dir;
    MemoryStream cards;
    const AddressBookConversion done = convertMade(dir, "large-3000", cards);
    EXPECT_GT(static_cast<int64_t>(std::filesystem::file_size(dir.file("a.wab"))), 2 * WindowReader::kWindowSize);
    EXPECT_EQ(done.contacts, 3000);
    EXPECT_EQ(done.damageCount, 0) << (done.damages.empty() ? "" : done.damages.front().what);
}

TEST(AddressBook, HostileFilesAreRefusedOrLoseOnlyTheDamagedRecordNamedByOffset) {
    const char* variants[] = {"not-a-book",       "cut-header",        "index-past-end",      "index-huge-count",
                              "record-past-end",  "same-record-twice", "overlapping-records", "huge-property-count",
                              "huge-data-length", "value-past-record", "tag-list-mismatch",   "multi-value-bomb",
                              "folder-record"};
    for (const char* variant : variants) {
        SCOPED_TRACE(variant);
        TempDir dir;
        MemoryStream cards;
        test::MadeAddressBook made;
        std::optional<AddressBookConversion> done;
        std::string refused;
        try {
            done = convertMade(dir, variant, cards, &made);
        } catch (const EAddressBookDamaged& failure) {
            refused = failure.what();
        }
        if (!made.partly) {
            EXPECT_EQ(refused.rfind("C:\\a.wab: damaged at offset " + addressBookOffset(made.damageOffset) + ": ", 0),
                      0u)
                << refused;
            continue;
        }
        ASSERT_TRUE(done) << refused;
        ASSERT_FALSE(done->damages.empty());
        EXPECT_EQ(addressBookOffset(done->damages.front().offset), addressBookOffset(made.damageOffset))
            << done->damages.front().what;
        // The records around the damaged one still arrive, and the group names no card that
        // was left out.
        EXPECT_GE(done->contacts + done->groups, 2);
        const std::string text(cards.bytes().begin(), cards.bytes().end());
        for (const std::string& uid : membersOf(cards))
            EXPECT_NE(text.find("UID:" + uid + "\r\n"), std::string::npos) << "a member without a card: " << uid;
    }
}

TEST(AddressBook, AGroupMemberKeptOnlyInTheGroupIsReportedAndNoMemberIsInvented) {
    TempDir dir;
    MemoryStream cards;
    const AddressBookConversion done = convertMade(dir, "outside-member", cards);
    EXPECT_EQ(done.unresolvedMembers, 1);
    EXPECT_EQ(done.problems("C:\\a.wab"), "C:\\a.wab: 1 group member is an address kept only in a group, not a card");
    EXPECT_EQ(membersOf(cards).size(), 2u);
}

TEST(VCardText, EscapesAndFoldsAsTheStandardSays) {
    const struct {
        const char* text;
        const char* escaped;
    } escapes[] = {{"a,b;c\\d", "a\\,b\\;c\\\\d"},
                   {"one\r\ntwo\nthree\rfour", "one\\ntwo\\nthree\\nfour"},
                   {"tab\there\x01", "tab\there"},
                   {"", ""}};
    for (const auto& c : escapes) EXPECT_EQ(vcardEscaped(c.text), c.escaped) << c.text;

    // Folds never split a character, and each physical line holds at most 75 octets.
    for (const std::string& unit :
         {std::string("a"), std::string("\xc3\xa9"), std::string("\xe6\x97\xa5"), std::string("\xf0\x9f\x98\x80")}) {
        for (size_t count : {1u, 37u, 74u, 75u, 76u, 200u}) {
            std::string line = "NOTE:";
            for (size_t i = 0; i < count; ++i) line += unit;
            const std::string folded = vcardFolded(line);
            std::string rejoined;
            size_t start = 0;
            for (size_t end; (end = folded.find("\r\n", start)) != std::string::npos; start = end + 2) {
                const std::string part = folded.substr(start, end - start);
                EXPECT_LE(part.size(), 75u);
                if (!part.empty() && start > 0) {
                    EXPECT_EQ(part[0], ' ');
                    EXPECT_NE(static_cast<unsigned char>(part[1]) & 0xc0, 0x80) << "a fold inside a character";
                }
                rejoined += start == 0 ? part : part.substr(1);
            }
            EXPECT_EQ(start, folded.size());
            EXPECT_EQ(rejoined, line);
        }
    }
}

}  // namespace
}  // namespace ts
