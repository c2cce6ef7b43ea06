#include "support/crafted_data_file.h"

#include <cstring>
#include <filesystem>

#include "engine/datafile/data_header.h"
#include "engine/project.h"
#include "items/kinds/address_book.h"
#include "items/kinds/oe_data.h"
#include "items/capture/backup_reg_item.h"
#include "items/capture/backup_file_item_record.h"
#include "platform/ansi_text.h"
#include "platform/stream/parallel_deflate_stream.h"

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

void putText(std::vector<uint8_t>& out, const std::string& text) {
    const std::string ansi = toAnsi(text);
    out.insert(out.end(), ansi.begin(), ansi.end());
    out.push_back(0);
}

std::vector<uint8_t> keyTree(const std::vector<CraftedKey>& keys) {
    std::vector<uint8_t> out;
    for (const CraftedKey& key : keys) {
        putText(out, key.path);
        for (const auto& [name, text] : key.values) {
            putText(out, name);
            out.push_back(1);  // a string
            const auto size = static_cast<int32_t>(toAnsi(text).size() + 1);
            out.insert(out.end(), reinterpret_cast<const uint8_t*>(&size), reinterpret_cast<const uint8_t*>(&size) + 4);
            putText(out, text);
        }
        putText(out, kKeyTreeEndMarker);
    }
    putText(out, kKeyTreeEndMarker);
    return out;
}

void writeItemData(const std::string& path, TtsBackupProject& project, TtsBPSourceItem& item,
                   const std::vector<uint8_t>& before, const std::vector<CraftedFileRecord>& records) {
    item.SetSelected(true);
    const std::string plainPath = path + ".plain";
    {
        FileStream plain(plainPath, FileStream::Mode::Create);
        DataHeaderRec header;
        header.Encrypt = project.Encrypt();
        header.writeTo(plain);
        project.SaveToStream(plain);
        plain.write(before.data(), static_cast<int64_t>(before.size()));
        plain.writeValue<int32_t>(static_cast<int32_t>(records.size()));
        for (const CraftedFileRecord& crafted : records) {
            const std::vector<uint8_t> record = fileRecord(crafted);
            item.WriteSectionBuffer(record.data(), static_cast<int64_t>(record.size()), plain);
        }
    }
    compressPlainFile(plainPath, path, project.CompressionLevel());
    std::filesystem::remove(plainPath);
}

}  // namespace

void writeCraftedMailDataFile(const std::string& path, const std::vector<CraftedKey>& keys,
                              const std::vector<CraftedFileRecord>& records) {
    TtsBackupProject project;
    project.SetName("Crafted");
    std::vector<uint8_t> trees = keyTree(keys);
    const std::vector<uint8_t> noIdentities = keyTree({});
    trees.insert(trees.end(), noIdentities.begin(), noIdentities.end());
    writeItemData(path, project, *project.Source().FindItem(TtsBPOEData::kCaption), trees, records);
}

void writeCraftedDataFile(const std::string& path, const std::vector<CraftedFileRecord>& records,
                          const std::optional<std::string>& password, const std::string& projectName) {
    TtsBackupProject project;
    project.SetName(projectName);
    project.SetEncrypt(password.has_value());
    project.SetPassword(password.value_or(""));
    writeItemData(path, project, *project.Source().FindItem(TtsBPAddressBook::kCaption), {}, records);
}

void compressPlainFile(const std::string& plainPath, const std::string& dataPath, uint8_t compressionLevel) {
    FileStream plain(plainPath, FileStream::Mode::Read);
    FileStream data(dataPath, FileStream::Mode::Create, 0600);
    ParallelDeflateStream zlib(data, zlibLevelFor(compressionLevel));
    zlib.copyFrom(plain, plain.size());
    zlib.finish();
}

}  // namespace ts::test
