#pragma once
// The schedule record. Nothing sets or interprets its values: they are zero in a new project
// and carried unchanged through every load and save.
#include <cstdint>

#include "part/bp_object.h"

namespace ts {

class TtsBPScheme : public TtsBPObject {
public:
    static constexpr int64_t kRecordSize = 40;

    using TtsBPObject::TtsBPObject;

    int32_t SchemeValue1() const { return value1_; }
    int32_t SchemeValue2() const { return value2_; }
    int32_t SchemeValue3() const { return value3_; }
    int32_t SchemeValue4() const { return value4_; }
    uint8_t SchemeFlag() const { return flag_; }
    double SchemeTime() const { return time_; }
    int32_t SchemeValue5() const { return value5_; }

    int32_t WriteToStream(Stream& stream) override;
    // Raises EFileEncrypted, changing nothing, when the section does not decode to exactly
    // kRecordSize bytes: a wrong password, or a damaged file.
    // A length that no password explains raises EDataDamaged, a section cut short EReadError.
    int32_t ReadFromStream(Stream& stream) override;

private:
    int32_t value1_ = 0;
    int32_t value2_ = 0;
    int32_t value3_ = 0;
    int32_t value4_ = 0;
    uint8_t flag_ = 0;
    double time_ = 0;
    int32_t value5_ = 0;
};

}  // namespace ts
