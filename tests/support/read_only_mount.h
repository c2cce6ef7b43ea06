#pragma once
// A folder made read-only by a read-only bind mount over itself, which stops root too (a
// chmod does not). Where mounting is not permitted, available() is false and the test skips.
#include <string>

namespace ts::test {

class ReadOnlyMount {
public:
    explicit ReadOnlyMount(std::string folder);
    ~ReadOnlyMount();
    ReadOnlyMount(const ReadOnlyMount&) = delete;
    ReadOnlyMount& operator=(const ReadOnlyMount&) = delete;

    bool available() const { return mounted_; }
    const std::string& why() const { return why_; }

private:
    std::string folder_;
    bool mounted_ = false;
    std::string why_;
};

}  // namespace ts::test
