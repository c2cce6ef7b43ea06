#pragma once
// The subcommands of tessaly-cli. Each takes the arguments after its name and returns the
// exit code; failures leave as UsageError or CommandFailure.
#include <string>
#include <vector>

namespace ts::cli {

using Arguments = std::vector<std::string>;

int runNew(const Arguments& args);
int runBackup(const Arguments& args);
int runLs(const Arguments& args);
int runCheck(const Arguments& args);
int runRestore(const Arguments& args);
int runExtract(const Arguments& args);
int runExport(const Arguments& args);
int runTestFtp(const Arguments& args);

}  // namespace ts::cli
