#pragma once
// How a backup run hands a finished data file to an FTP destination. The run compresses into
// its work folder and then calls Upload; the upload talks only to the run (status texts,
// progress, the stop that closes its connection, the final step), never to the project.
#include <cstdint>
#include <stop_token>
#include <string>

namespace ts {

class TtsBPDestination;

// What an upload sees of the run it belongs to.
class UploadRunLink {
public:
    virtual ~UploadRunLink() = default;
    virtual void uploadStatus(const std::string& text) = 0;
    // The announced total, then the bytes sent so far (reported as a truncated percentage).
    virtual void uploadWorkBegin(int64_t total) = 0;
    virtual void uploadWork(int64_t sent) = 0;
    // The run's stop: the upload closes its connection from a std::stop_callback on it, which
    // runs at once when the stop came while connecting.
    virtual std::stop_token uploadStopToken() const = 0;
    // The upload is about to put the new data file in place of the old one: from a true answer
    // on, a cancel no longer stops the run nor closes the connection. False when the run was
    // cancelled already: the upload must then raise without touching the final name.
    virtual bool uploadFinalStep() = 0;
};

class DataFileUpload {
public:
    virtual ~DataFileUpload() = default;
    // Stores localFile under remoteName in the destination's remote folder, asking the run's
    // final step before the final name is touched; raises on any failure. Runs on the run's
    // thread.
    virtual void Upload(UploadRunLink& run, const TtsBPDestination& destination, const std::string& localFile,
                        const std::string& remoteName) = 0;
};

}  // namespace ts
