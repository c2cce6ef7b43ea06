#pragma once
// What the four item kinds share beyond the head: each reads its saved data into a sink, and
// a restore is that reading into the sink its caller hands in, held to the item's own keys.
#include <cstdint>
#include <string>
#include <vector>

#include "part/restore_sink.h"
#include "part/source_item.h"

namespace ts {

class ItemKind : public TtsBPSourceItem {
public:
    // Logs "<kind>.RestoreFromStream" (and, for the kinds that log it, where the stream
    // stands first), writes through sink, returns the bytes read.
    int32_t RestoreFromStream(Stream& stream, RestoreSink& sink) final;
    int32_t RestoreToSink(Stream& stream, RestoreSink& sink) final;

protected:
    // logName is the class name the kind's log lines start with.
    ItemKind(ProjectLink* project, std::string caption, std::string logName, bool logsRestoreStart)
        : TtsBPSourceItem(project, std::move(caption)),
          logName_(std::move(logName)),
          logsRestoreStart_(logsRestoreStart) {}

    // Reads the item data into sink; intoProfile says it is a restore (the item takes what it
    // read as its own).
    virtual int64_t ReadData(Stream& stream, RestoreSink& sink, bool intoProfile) = 0;

private:
    std::string logName_;
    bool logsRestoreStart_;
};

}  // namespace ts
