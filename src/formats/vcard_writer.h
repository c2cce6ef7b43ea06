#pragma once
// Address book entries as vCard 4.0: one card per contact, a KIND:group card per group whose
// MEMBER lines name the members' UIDs. Text is UTF-8, escaped and folded as vCard demands,
// lines end in CRLF.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "formats/address_book.h"
#include "platform/stream/stream.h"

namespace ts {

class VCardWriter {
public:
    // seed makes the UIDs of one address book differ from another's; the same seed and
    // record id always give the same UID, so a group can name a member before its card.
    VCardWriter(Stream& out, std::string seed) : out_(out), seed_(std::move(seed)) {}

    void write(const AddressEntry& entry);
    // "urn:uuid:..." of the record with this id.
    std::string uidOf(uint32_t id) const;

private:
    void line(std::string_view text);

    Stream& out_;
    std::string seed_;
};

// A TEXT value with backslash, comma, semicolon and line breaks escaped.
std::string vcardEscaped(std::string_view text);
// A content line folded at 75 octets, never inside a UTF-8 sequence; each part ends in CRLF.
std::string vcardFolded(std::string_view line);

// What converting one address book gave.
struct AddressBookConversion {
    int64_t contacts = 0;
    int64_t groups = 0;
    int64_t unresolvedMembers = 0;
    std::vector<AddressBookDamage> damages;  // records not understood, with their offset
    int64_t damageCount = 0;

    // What of the book `file` did not become cards, in one sentence; empty when nothing.
    std::string problems(const std::string& file) const;
};

// Reads the address book from `book` and writes its cards to `out`. Throws
// EAddressBookDamaged (naming `name`) when the file is no address book or its index cannot
// be followed; records that cannot be read are passed over and reported.
AddressBookConversion convertAddressBook(Stream& book, const std::string& name, Stream& out);

}  // namespace ts
