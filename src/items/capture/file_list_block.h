#pragma once
// A list of saved files in the data stream:
//
//   count              4 bytes, signed
//   count times:       one section (8-byte length L, then L bytes) whose plain bytes are one
//                      file record, encrypted when the project has a password
//
// Both directions stream each file through fixed buffers: memory does not grow with the
// size of a file.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "part/restore_sink.h"
#include "platform/stream/stream.h"

namespace ts {

class CaptureReport;
class Profile;
class SectionCodec;
class TtsBackupFileItem;

// Called after each file of a block is written or read, with the item that handled it
// (its FileName is the real path).
using FileListObserver = std::function<void(const TtsBackupFileItem& file)>;

// Writes the files named by realPaths (taken as given: no sorting, duplicates kept) as one
// block into dest, each record encoded by codec; report, when given, is told what the list
// holds before it is read, every file saved and every file not saved as it was. Returns the
// bytes written.
int64_t WriteFileListBlock(const SectionCodec& codec, const Profile& profile, const std::vector<std::string>& realPaths,
                           Stream& dest, const FileListObserver& afterEachFile = {},
                           CaptureReport* report = nullptr);

struct FileListReadResult {
    int64_t bytesRead = 0;
};

// Reads one block from source, handing every file record to sink (see TtsBackupFileItem's
// readToSink). Bytes of a section that its record does not use are dropped with it, so each
// file starts at its own section. A negative count raises an error naming the block.
FileListReadResult ReadFileListBlock(const SectionCodec& codec, const Profile& profile, Stream& source,
                                     RestoreSink& sink, const FileListObserver& afterEachFile = {});

}  // namespace ts
