#pragma once
// Byte streams with the semantics the engine relies on: a position, a size, reads that may
// return less than asked, and exact reads for fixed-size records. Counts are 64-bit.
#include <concepts>
#include <cstdint>
#include <type_traits>
#include <memory>
#include <string>
#include <vector>

namespace ts {

// Turns whole 8-byte blocks in place, each on its own (a block cipher in ECB mode), so the
// blocks of one buffer may be split among threads in any way and still give the same bytes.
class BlockTransform {
public:
    static constexpr int64_t kBlockSize = 8;
    virtual ~BlockTransform() = default;
    virtual void apply(uint8_t* blocks, size_t count) const = 0;
};

class Stream {
public:
    virtual ~Stream() = default;
    Stream() = default;
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    virtual int64_t position() const = 0;
    virtual int64_t size() const = 0;
    virtual void seek(int64_t position) = 0;
    // Reads up to count bytes; fewer only at the end of the stream.
    virtual int64_t read(void* buffer, int64_t count) = 0;
    // Writes all count bytes or throws EWriteError.
    virtual int64_t write(const void* buffer, int64_t count) = 0;

    // Writes what transform makes of count bytes (whole blocks). The buffer is the caller's
    // scratch: its contents are undefined afterwards. Streams that compress on other threads
    // run the transform there, so it costs the writer nothing; the rest transform in place
    // and write. The transform must stay unchanged while the stream may still use it.
    virtual int64_t writeTransformed(uint8_t* buffer, int64_t count, const std::shared_ptr<const BlockTransform>& transform);

    // Reads exactly count bytes or throws EReadError ("Stream read error").
    void readExact(void* buffer, int64_t count);
    // Copies exactly count bytes from source's current position through a fixed buffer;
    // throws EReadError when source ends first. Returns count.
    int64_t copyFrom(Stream& source, int64_t count);
    void rewind() { seek(0); }
    int64_t remaining() const { return size() - position(); }

    // Integers in the files are little-endian, coded byte by byte so that the files are the
    // same on any host.
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    T readValue() {
        uint8_t bytes[sizeof(T)];
        readExact(bytes, sizeof bytes);
        std::make_unsigned_t<T> bits = 0;
        for (size_t i = 0; i < sizeof(T); ++i) bits |= static_cast<std::make_unsigned_t<T>>(bytes[i]) << (8 * i);
        return static_cast<T>(bits);
    }
    template <std::integral T>
        requires(!std::same_as<T, bool>)
    void writeValue(T value) {
        uint8_t bytes[sizeof(T)];
        const auto bits = static_cast<std::make_unsigned_t<T>>(value);
        for (size_t i = 0; i < sizeof(T); ++i) bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
        write(bytes, sizeof bytes);
    }
};

// A growable stream in memory; writing past the end extends it.
class MemoryStream : public Stream {
public:
    MemoryStream() = default;
    explicit MemoryStream(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}

    int64_t position() const override { return position_; }
    int64_t size() const override { return static_cast<int64_t>(bytes_.size()); }
    void seek(int64_t position) override;
    int64_t read(void* buffer, int64_t count) override;
    int64_t write(const void* buffer, int64_t count) override;

    const std::vector<uint8_t>& bytes() const { return bytes_; }
    std::vector<uint8_t> takeBytes();
    void clear();

private:
    std::vector<uint8_t> bytes_;
    int64_t position_ = 0;
};

// A host file opened through a POSIX descriptor.
class FileStream : public Stream {
public:
    enum class Mode {
        Read,       // existing regular file, read only (a FIFO, device or folder is refused)
        Create,     // create or truncate, read and write
        ReadWrite,  // existing file, read and write
    };
    // Throws EFOpenError (Read, ReadWrite) or EFCreateError (Create) naming the file.
    // Files are created with the given permission bits (before the umask).
    FileStream(const std::string& hostPath, Mode mode, unsigned permissions = 0666);
    ~FileStream() override;

    int64_t position() const override { return position_; }
    int64_t size() const override;
    void seek(int64_t position) override;
    int64_t read(void* buffer, int64_t count) override;
    int64_t write(const void* buffer, int64_t count) override;

    // Forces the written bytes to the disk; throws EWriteError on failure.
    void flush();
    // For a file that will be flushed: each time this many more bytes were written, the
    // disk is asked to start writing them (without waiting), so the flush waits for little.
    // With dropWritten the bytes handed over the time before are waited for and their pages
    // given back, so a file far larger than memory streams through a few pages at the disk's
    // pace instead of filling memory that the flush then waits to write.
    void startWritingBehind(int64_t every, bool dropWritten = false) {
        writeBehindEvery_ = every;
        dropWritten_ = dropWritten;
    }
    const std::string& path() const { return path_; }
    int descriptor() const { return fd_; }

private:
    std::string path_;
    int fd_ = -1;
    int64_t position_ = 0;
    int64_t writeBehindEvery_ = 0;
    int64_t writtenBehind_ = 0;  // bytes up to here were handed to the disk
    bool dropWritten_ = false;
    int64_t dropped_ = 0;        // bytes up to here are on the disk and out of memory
};

// The text of the last system error, as strerror gives it.
std::string systemErrorText(int errorNumber);

}  // namespace ts
