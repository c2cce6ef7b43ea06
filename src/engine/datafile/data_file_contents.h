#pragma once
// What a data file holds, as a full read without writing anything finds it.
#include <string>
#include <vector>

#include "engine/datafile/data_header.h"
#include "items/capture/inventory_sink.h"

namespace ts {

struct DataFileItemContents {
    std::string caption;
    bool stored = false;     // the item's data is in the file
    bool read = false;       // its data was read through to its end
    InventorySink inventory;
};

struct DataFileContents {
    // Set before a read: false counts the saved files without listing them (refused ones are
    // still listed), so memory does not grow with their number.
    bool listFiles = true;
    bool isDataFile = false;          // the header's identifier matched
    DataHeaderRec header;
    bool projectRead = false;         // the project stream was read
    std::vector<DataFileItemContents> items;
    bool complete = false;            // the compressed data ended whole, checksum matching
};

}  // namespace ts
