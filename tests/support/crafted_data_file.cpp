#include "support/crafted_data_file.h"

#include <cstring>
#include <filesystem>

#include "engine/datafile/data_header.h"
#include "engine/project.h"
#include "items/kinds/address_book.h"
#include "items/capture/backup_file_item_record.h"
#include "platform/ansi_text.h"

namespace ts::test {

namespace {

std::vector<uint8_t> fileRecord(const CraftedFileRecord& crafted) {
    const std::string name = toAnsi(crafted.storedName);
    std::vector<uint8_t> bytes(static_cast<size_t>(kFileRecordHeadSize), 0);
    std::memcpy(bytes.data(), name.data(), std::min<size_t>(name.size(), kFileRecordNameSize - 1));
    const auto size = static_cast<int64_t>(crafted.contents.size());
    std::memcpy(bytes.data() + kFileRecordNameSize, &size, sizeof size);
    bytes.insert(bytes.end(), crafted.contents.begin(), crafted.contents.end());
    return bytes;
}

}  // namespace

void writeCraftedDataFile(const std::string& path, const std::vector<CraftedFileRecord>& records,
                          const std::optional<std::string>& password, const std::string& projectName) {
    TtsBackupProject project;
    project.SetName(projectName);
    project.SetEncrypt(password.has_value());
    project.SetPassword(password.value_or(""));
    TtsBPSourceItem& addressBook = *project.Source().FindItem(TtsBPAddressBook::kCaption);
    addressBook.SetSelected(true);

    const std::string plainPath = path + ".plain";
    {
        FileStream plain(plainPath, FileStream::Mode::Create);
        DataHeaderRec header;
        header.Encrypt = project.Encrypt();
        header.writeTo(plain);
        project.SaveToStream(plain);
        plain.writeValue<int32_t>(static_cast<int32_t>(records.size()));
        for (const CraftedFileRecord& crafted : records) {
            const std::vector<uint8_t> record = fileRecord(crafted);
            addressBook.WriteSectionBuffer(record.data(), static_cast<int64_t>(record.size()), plain);
        }
    }
    project.CompressFile(plainPath, path);
    std::filesystem::remove(plainPath);
}

}  // namespace ts::test
