#pragma once
// Address book files from the independent generator (make_address_book.py, written from the
// published layout), and the independent vCard reader that checks what was made of them.
#include <cstdint>
#include <string>

namespace ts::test {

struct MadeAddressBook {
    int64_t damageOffset = -1;  // hostile variants: where the damage must be named
    bool partly = false;        // hostile variants: the rest of the book is still read
};

// Writes the variant ("sound" or a hostile one) to path and what a reader must find in it
// to expectedJson.
MadeAddressBook makeAddressBook(const std::string& variant, const std::string& path, const std::string& expectedJson);

// Parses the vCard file with Debian's vobject and compares it field by field with the
// generator's JSON; empty when they agree, else what differs.
std::string vcardDifferences(const std::string& vcf, const std::string& expectedJson);

}  // namespace ts::test
