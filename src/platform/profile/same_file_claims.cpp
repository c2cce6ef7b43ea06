#include "platform/profile/same_file_claims.h"

#include "platform/profile/profile_name_case.h"

namespace ts {

std::string sameFileKey(std::string_view windowsPath) {
    std::string key;
    size_t start = 0;
    while (start <= windowsPath.size()) {
        size_t end = windowsPath.find_first_of("\\/", start);
        if (end == std::string_view::npos) end = windowsPath.size();
        const std::string_view step = windowsPath.substr(start, end - start);
        if (!step.empty() && step != ".") {
            if (!key.empty()) key.push_back('\\');
            key += caseFoldedKey(step);
        }
        start = end + 1;
    }
    return key;
}

SameFileClaims::Verdict SameFileClaims::claim(std::string_view windowsPath, const std::string& storedName) {
    const auto [first, isNew] = claimed_.emplace(sameFileKey(windowsPath), storedName);
    if (isNew) return Verdict::First;
    if (first->second == storedName) return Verdict::SameName;
    firstName_ = first->second;
    return Verdict::OtherName;
}

std::string SameFileClaims::refusalReason() const {
    return "it lands on the same file as the saved file \"" + firstName_ + "\"";
}

}  // namespace ts
