#pragma once
// Whether a Wine server is running for a prefix. While one runs, user.reg must not be
// written: the server never re-reads the file and overwrites it at its next save.
#include <optional>
#include <string>

namespace ts {

struct RunningWineServer {
    std::string evidence;   // the lock file held, or the server process found
    long pid = -1;          // -1 when the lock does not tell
};

// Where the server folders are looked for.
struct WineServerSearch {
    std::string upstreamTmpDir = "/tmp";   // upstream Wine: /tmp/.wine-<uid>/server-<dev>-<ino>
    std::string debianTmpDir = "/tmp";     // Debian: $TMPDIR/<content of prefix/wineserver>/server-<dev>-<ino>
    bool scanProcesses = true;             // also look for a wineserver process holding the prefix open

    static WineServerSearch fromEnvironment();
};

std::optional<RunningWineServer> findRunningWineServer(const std::string& prefixDir,
                                                       const WineServerSearch& search = WineServerSearch::fromEnvironment());

}  // namespace ts
