#pragma once
// Counting the opens of a file from outside the program, as the kernel reports them.
#include <string>

namespace ts::test {

// The opens of one file by anyone since this was made. The kernel folds an event into an
// identical one still unread, so reads and closes are watched too: every open of a data
// file reads its header at once, which keeps two opens apart.
class FileOpens {
public:
    explicit FileOpens(const std::string& path);
    ~FileOpens();
    FileOpens(const FileOpens&) = delete;
    FileOpens& operator=(const FileOpens&) = delete;

    int count();

private:
    int fd_;
    int opens_ = 0;
};

}  // namespace ts::test
