#include "transfer/ftp/ftp_throughput.h"

namespace ts {

FtpThroughputWatch::FtpThroughputWatch(Milliseconds window, int64_t minimumBytes, Clock::time_point start)
    : window_(window), minimumBytes_(minimumBytes), recent_{{start, 0}} {}

void FtpThroughputWatch::moved(int64_t bytes, Clock::time_point at) {
    if (bytes <= 0) return;
    total_ += bytes;
    recent_.push_back({at, total_});
    while (recent_.size() > 1 && recent_.front().total <= total_ - minimumBytes_) recent_.pop_front();
}

}  // namespace ts
