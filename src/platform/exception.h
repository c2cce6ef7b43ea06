#pragma once
// The one exception family of the core. Every failure the user may see travels as a
// TsException whose message is the text shown to them.
#include <stdexcept>
#include <string>

namespace ts {

class TsException : public std::runtime_error {
public:
    explicit TsException(const std::string& message) : std::runtime_error(message) {}
};

// Thrown where a run's work meets its stop requested, and caught by the run alone. It is no
// TsException, so nothing on the way takes a cancel for a failure of its own.
struct RunStopped {};

// A short read of a fixed-size record, or a stream operation that could not be done.
class EStreamError : public TsException {
public:
    using TsException::TsException;
};

class EReadError : public EStreamError {
public:
    EReadError() : EStreamError("Stream read error") {}
};

class EWriteError : public EStreamError {
public:
    explicit EWriteError(const std::string& detail = "Stream write error") : EStreamError(detail) {}
};

// A file that cannot be opened: "Cannot open file "NAME". REASON".
class EFOpenError : public EStreamError {
public:
    EFOpenError(const std::string& fileName, const std::string& reason)
        : EStreamError("Cannot open file \"" + fileName + "\". " + reason) {}
};

// A file that cannot be created: "Cannot create file "NAME". REASON".
class EFCreateError : public EStreamError {
public:
    EFCreateError(const std::string& fileName, const std::string& reason)
        : EStreamError("Cannot create file \"" + fileName + "\". " + reason) {}
};

// The records decrypted with the given password do not make sense.
class EFileEncrypted : public TsException {
public:
    EFileEncrypted() : TsException("Decrypted data invalid, please check your password!") {}
};

// A record stored plain where an encrypted one was expected: to a project file's reader the
// same as any EFileEncrypted, but in a data file only its header asks for encryption, so
// there the header is damaged and no password is to blame.
class EPlainWhereEncrypted : public EFileEncrypted {};

// Data past a bound that no file of ours reaches (a name longer than the registry allows, a
// count the rest of the stream cannot hold): refused before anything is allocated for it.
class EDataDamaged : public TsException {
public:
    explicit EDataDamaged(const std::string& place)
        : TsException("The data is damaged or not made by this program: " + place) {}
};

class ECipherException : public TsException {
public:
    ECipherException() : TsException("Invalid file format") {}
};

}  // namespace ts
