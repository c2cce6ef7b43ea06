#pragma once
// Which saved name took a file first. Windows reaches one file by many spellings: any letter
// case, "/" for "\", doubled separators and "." steps. A data file is outside input and may
// hold two spellings of one file (or two items may save the same one); written one after the
// other, only the second would survive while both were counted. The first keeps the file and
// every later spelling is refused, naming it.
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace ts {

// The text two Windows paths share exactly when they name the same file (letter case
// folded, separators unified, empty and "." steps dropped).
std::string sameFileKey(std::string_view windowsPath);

class SameFileClaims {
public:
    enum class Verdict {
        First,        // the file is this name's
        SameName,     // the very name that took it, met again
        OtherName,    // another spelling took it first: see firstName()
    };

    // Claims the file windowsPath names for storedName.
    Verdict claim(std::string_view windowsPath, const std::string& storedName);
    // The stored name that claimed the file of the last OtherName verdict.
    const std::string& firstName() const { return firstName_; }
    // The reason to give for a name refused with OtherName.
    std::string refusalReason() const;

private:
    std::unordered_map<std::string, std::string> claimed_;  // sameFileKey -> stored name
    std::string firstName_;
};

}  // namespace ts
