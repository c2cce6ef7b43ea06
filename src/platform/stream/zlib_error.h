#pragma once
// Failures of the compression layer, with zlib's own reason in the message.
#include <string>

#include "platform/exception.h"

namespace ts {

// The compressed input is not a zlib stream, or is damaged inside.
class ECompressedDataError : public TsException {
public:
    using TsException::TsException;
};

}  // namespace ts
