// Any bytes as a Windows user's NTUSER.DAT, read through hivex: reading never crashes, hangs
// or holds more than a small multiple of the file; a hive that reads is written back with an
// edit, and the edit reads back as made.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "platform/exception.h"
#include "platform/registry/registry_hive.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

// One folder for this process, removed at its end: hivex reads hives from files only.
struct ScratchFolder {
    std::string path;
    ScratchFolder() {
        std::string pattern = "/tmp/nt-user-dat-fuzz-XXXXXX";
        check(::mkdtemp(pattern.data()) != nullptr);
        path = pattern;
    }
    ~ScratchFolder() {
        for (const char* name : {"/NTUSER.DAT", "/NTUSER.DAT.tessaly-previous"}) ::unlink((path + name).c_str());
        ::rmdir(path.c_str());
    }
};

const std::string& scratchFolder() {
    static const ScratchFolder folder;
    return folder.path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    const std::string path = scratchFolder() + "/NTUSER.DAT";
    ::unlink((path + ".tessaly-previous").c_str());
    {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    }
    std::unique_ptr<RegistryHive> hive;
    try {
        hive = RegistryHive::openNtUserDat(path);
    } catch (const TsException&) {
        return 0;
    }
    const RegValue edited = RegValue::text("fuzz", REG_SZ, "z");
    hive->setValue("Software\\Fuzz", edited);
    try {
        hive->save();
    } catch (const TsException&) {
        return 0;   // hivex may refuse to change a hive it could read
    }
    check(RegistryHive::openNtUserDat(path)->value("software\\fuzz", "FUZZ") == edited);
    return 0;
}
