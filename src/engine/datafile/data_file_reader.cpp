#include "engine/datafile/data_file_reader.h"

namespace ts {

DataFileReader::DataFileReader(const std::string& fileName)
    : fileName_(fileName), file_(fileName, FileStream::Mode::Read), inflate_(file_, fileName) {
    header_ = DataHeaderRec::readFrom(inflate_);
}

}  // namespace ts
