#pragma once
// The options of one subcommand: "--name VALUE" or "--name=VALUE" for valued options, bare
// "--name" for switches, everything else positional. Anything unknown is a usage error, and
// so is an option given twice unless it is one that may repeat.
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace ts::cli {

struct OptionSpec {
    std::string name;  // without the dashes
    bool takesValue = false;
    bool repeats = false;  // each occurrence adds a value
};

class ParsedOptions {
public:
    bool has(const std::string& name) const {
        return switches_.count(name) || values_.count(name) || repeated_.count(name);
    }
    std::optional<std::string> value(const std::string& name) const;
    // The values of an option that repeats, in the order given.
    std::vector<std::string> values(const std::string& name) const;
    const std::vector<std::string>& positional() const { return positional_; }

    std::set<std::string> switches_;
    std::map<std::string, std::string> values_;
    std::map<std::string, std::vector<std::string>> repeated_;
    std::vector<std::string> positional_;
};

// Every subcommand also knows --help, --profile DIR and --drive D=DIR (repeating). With --help present nothing else is
// checked. Otherwise `positionals` positional arguments must be there, or up to
// mostPositionals when that is more.
ParsedOptions parseOptions(const std::string& command, const std::vector<std::string>& args,
                           std::vector<OptionSpec> specs, size_t positionals, size_t mostPositionals = 0);

// The value of a required option, or a usage error naming it.
std::string requiredValue(const std::string& command, const ParsedOptions& options, const std::string& name);

}  // namespace ts::cli
