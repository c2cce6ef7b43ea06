#include "support/address_book_files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>

#include "support/temp_dir.h"

namespace ts::test {

namespace {

std::string quoted(const std::string& text) {
    return "'" + text + "'";
}

}  // namespace

MadeAddressBook makeAddressBook(const std::string& variant, const std::string& path, const std::string& expectedJson) {
    const std::string command = "/usr/bin/python3 " +
                                quoted(std::string(TESSALY_SOURCE_DIR) + "/tests/support/make_address_book.py") + " " +
                                variant + " " + quoted(path) + " " + quoted(expectedJson);
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
    const auto bytes = readHostFile(expectedJson);
    const std::string json(bytes.begin(), bytes.end());
    MadeAddressBook made;
    std::smatch found;
    if (std::regex_search(json, found, std::regex("\"offset\": (\\d+)"))) made.damageOffset = std::stoll(found[1]);
    made.partly = json.find("\"partly\": true") != std::string::npos;
    return made;
}

std::string vcardDifferences(const std::string& vcf, const std::string& expectedJson) {
    const std::string command = "/usr/bin/python3 " +
                                quoted(std::string(TESSALY_SOURCE_DIR) + "/tests/app/read_vcards.py") + " " +
                                quoted(vcf) + " " + quoted(expectedJson) + " 2>&1";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return "could not run " + command;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = ::pclose(pipe);
    if (status != 0 && out.empty()) out = "the reader failed: " + command;
    return status == 0 ? std::string() : out;
}

}  // namespace ts::test
