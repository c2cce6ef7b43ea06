#include "engine/destination.h"

#include <array>
#include <span>

#include "part/operation_log.h"
#include "part/record_coding.h"
#include "part/text_field.h"
#include "platform/exception.h"

namespace ts {

namespace {

// Offsets in the plain record; the last two texts are not in declaration order.
constexpr size_t kKindOffset = 0;
constexpr size_t kLocalFolderOffset = 1;
constexpr size_t kRemoteFolderOffset = 257;
constexpr size_t kHostOffset = 513;
constexpr size_t kUserNameOffset = 769;
constexpr size_t kFtpPasswordOffset = 1025;

using DestRec = std::array<uint8_t, TtsBPDestination::kRecordSize>;

}  // namespace

void TtsBPDestination::SetKind(uint8_t kind) {
    if (kind != kKindLocalFolder && kind != kKindFtp)
        throw TsException("Unknown destination kind " + std::to_string(kind) +
                          " (0 is a local folder, 1 an FTP server)");
    kind_ = kind;
}

void TtsBPDestination::SetLocalFolder(const std::string& folder) {
    localFolder_ = checkedFieldText(folder, "Destination folder");
}

void TtsBPDestination::SetRemoteFolder(const std::string& folder) {
    remoteFolder_ = checkedFieldText(folder, "FTP folder");
}

void TtsBPDestination::SetHost(const std::string& host) {
    host_ = checkedFieldText(host, "FTP host");
}

void TtsBPDestination::SetFtpPassword(const std::string& password) {
    ftpPassword_ = checkedFieldText(password, "FTP password");
}

void TtsBPDestination::SetUserName(const std::string& userName) {
    userName_ = checkedFieldText(userName, "FTP user name");
}

int32_t TtsBPDestination::WriteToStream(Stream& stream) {
    logOperationStart("TtsBPDestination.WriteToStream", stream);
    DestRec rec{};
    record::putFixed(rec, kKindOffset, kind_);
    record::putText(rec, kLocalFolderOffset, localFolder_, "Destination folder");
    record::putText(rec, kRemoteFolderOffset, remoteFolder_, "FTP folder");
    record::putText(rec, kHostOffset, host_, "FTP host");
    record::putText(rec, kUserNameOffset, userName_, "FTP user name");
    record::putText(rec, kFtpPasswordOffset, ftpPassword_, "FTP password");
    auto count = static_cast<int32_t>(WriteSectionBuffer(rec.data(), kRecordSize, stream));
    debugLog("TtsBPDestination.WriteToStream, SizeOf(DestRec)=" + std::to_string(kRecordSize) +
             ", Result=" + std::to_string(count));
    return count;
}

int32_t TtsBPDestination::ReadFromStream(Stream& stream) {
    logOperationStart("TtsBPDestination.ReadFromStream", stream);
    auto length = stream.readValue<int64_t>();
    // Only one payload length can decode to the record: the record's own when plain, one
    // block more than its whole blocks when encrypted; known before a byte of a possibly huge
    // payload is read.
    // The length field itself is never encrypted. The record's length of the other kind (plain
    // where encrypted was expected, or the reverse) asks for a password or another one; any
    // other length is damage, whatever the password.
    if (length != EncodedLength(kRecordSize)) {
        if (length == kRecordSize) throw EPlainWhereEncrypted();
        if (length == (kRecordSize / 8 + 1) * 8) throw EFileEncrypted();
        throw EDataDamaged("the destination section is " + std::to_string(length) + " bytes long, not " +
                           std::to_string(EncodedLength(kRecordSize)));
    }
    MemoryStream encoded;
    if (encoded.copyFrom(stream, length) != length) throw EReadError();
    encoded.rewind();
    MemoryStream plain;
    DecodeStream(encoded, plain);
    if (plain.size() != kRecordSize) throw EFileEncrypted();

    const std::span<const uint8_t> rec(plain.bytes());
    std::string localFolder = record::getText(rec, kLocalFolderOffset);
    std::string remoteFolder = record::getText(rec, kRemoteFolderOffset);
    std::string host = record::getText(rec, kHostOffset);
    std::string userName = record::getText(rec, kUserNameOffset);
    std::string ftpPassword = record::getText(rec, kFtpPasswordOffset);
    kind_ = record::getFixed<uint8_t>(rec, kKindOffset);
    localFolder_ = std::move(localFolder);
    remoteFolder_ = std::move(remoteFolder);
    host_ = std::move(host);
    userName_ = std::move(userName);
    ftpPassword_ = std::move(ftpPassword);

    auto count = static_cast<int32_t>(sizeof length + length);
    logOperationResult("TtsBPDestination.ReadFromStream", count);
    return count;
}

}  // namespace ts
