#include "engine/datafile/data_file_reader.h"

namespace ts {

DataFileReader::DataFileReader(const std::string& fileName)
    : fileName_(fileName), file_(fileName, FileStream::Mode::Read), counter_(file_), inflate_(counter_, fileName) {
    header_ = DataHeaderRec::readFrom(inflate_);
}

}  // namespace ts
