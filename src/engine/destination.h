#pragma once
// Where the data file goes: a local folder, or a folder on an FTP server with its account.
// Written into the project stream as one section, so it is encrypted with the project; it
// is also where a wrong password shows when a project stream is read.
#include <cstdint>
#include <string>

#include "part/bp_object.h"

namespace ts {

class TtsBPDestination : public TtsBPObject {
public:
    static constexpr uint8_t kKindLocalFolder = 0;
    static constexpr uint8_t kKindFtp = 1;
    // The plain record: Kind, then the five 256-byte texts.
    static constexpr int64_t kRecordSize = 1281;

    using TtsBPObject::TtsBPObject;

    uint8_t Kind() const { return kind_; }
    const std::string& LocalFolder() const { return localFolder_; }
    const std::string& RemoteFolder() const { return remoteFolder_; }
    const std::string& Host() const { return host_; }
    const std::string& FtpPassword() const { return ftpPassword_; }
    const std::string& UserName() const { return userName_; }

    // Kind is kKindLocalFolder or kKindFtp; texts must fit their 256-byte fields with a NUL.
    // Anything else raises TsException and leaves the field as it was.
    void SetKind(uint8_t kind);
    void SetLocalFolder(const std::string& folder);
    void SetRemoteFolder(const std::string& folder);
    void SetHost(const std::string& host);
    void SetFtpPassword(const std::string& password);
    void SetUserName(const std::string& userName);

    int32_t WriteToStream(Stream& stream) override;
    // Raises EFileEncrypted, changing nothing, when the section does not decode to exactly
    // kRecordSize bytes: the password (or its absence) is not the writer's.
    // A length that no password explains raises EDataDamaged, a section cut short EReadError.
    int32_t ReadFromStream(Stream& stream) override;

private:
    uint8_t kind_ = kKindLocalFolder;
    std::string localFolder_;
    std::string remoteFolder_;
    std::string host_;
    std::string ftpPassword_;
    std::string userName_;
};

}  // namespace ts
