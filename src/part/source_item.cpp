#include "part/source_item.h"

#include <array>

#include "part/capture_report.h"
#include "part/text_field.h"
#include "platform/debug_log.h"

namespace ts {

namespace {

void logHeadResult(const char* operation, const std::string& caption, int32_t count) {
    debugLog(std::string("TtsBPSourceItem.") + operation + "(" + caption +
             "), Result=" + std::to_string(count));
}

}  // namespace

int32_t TtsBPSourceItem::WriteToStream(Stream& stream) {
    std::array<uint8_t, kHeadSize> head{};
    textToField(caption_, head.data(), "Item caption");
    head[kTextFieldSize] = selected_ ? 1 : 0;
    stream.write(head.data(), head.size());
    logHeadResult("WriteToStream", caption_, kHeadSize);
    return kHeadSize;
}

int32_t TtsBPSourceItem::BackupToStream(Stream& stream) {
    CaptureReport unheard;
    return backup(stream, unheard);
}

int32_t TtsBPSourceItem::ReadFromStream(Stream& stream) {
    std::array<uint8_t, kTextFieldSize> field{};
    int64_t count = 0;
    // Read until the field is full or the stream ends: a short read is not an error here.
    while (count < static_cast<int64_t>(field.size())) {
        int64_t got = stream.read(field.data() + count, static_cast<int64_t>(field.size()) - count);
        if (got <= 0) break;
        count += got;
    }
    if (count == static_cast<int64_t>(field.size())) {
        caption_ = textFromField(field.data());
        uint8_t selected = 0;
        if (stream.read(&selected, 1) == 1) {
            selected_ = selected != 0;
            ++count;
        }
    }
    auto result = static_cast<int32_t>(count);
    logHeadResult("ReadFromStream", caption_, result);
    return result;
}

}  // namespace ts
