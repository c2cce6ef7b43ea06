#include "app/cli/cli_options.h"

#include <algorithm>

#include "app/cli/cli_errors.h"

namespace ts::cli {

std::optional<std::string> ParsedOptions::value(const std::string& name) const {
    auto it = values_.find(name);
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::vector<std::string> ParsedOptions::values(const std::string& name) const {
    auto it = repeated_.find(name);
    return it == repeated_.end() ? std::vector<std::string>{} : it->second;
}

ParsedOptions parseOptions(const std::string& command, const std::vector<std::string>& args,
                           std::vector<OptionSpec> specs, size_t positionals, size_t mostPositionals) {
    specs.push_back({"help", false});
    specs.push_back({"profile", true});
    specs.push_back({"drive", true, true});
    ParsedOptions parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            parsed.positional_.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg.substr(2);
        std::optional<std::string> inlineValue;
        if (auto eq = name.find('='); eq != std::string::npos) {
            inlineValue = name.substr(eq + 1);
            name.resize(eq);
        }
        auto spec = std::find_if(specs.begin(), specs.end(), [&](const OptionSpec& s) { return s.name == name; });
        if (spec == specs.end()) throw UsageError(command, "unknown option --" + name);
        if (!spec->repeats && parsed.has(name)) throw UsageError(command, "--" + name + " is given twice");
        if (!spec->takesValue) {
            if (inlineValue) throw UsageError(command, "--" + name + " takes no value");
            parsed.switches_.insert(name);
            continue;
        }
        if (!inlineValue && i + 1 >= args.size()) throw UsageError(command, "--" + name + " needs a value");
        std::string value = inlineValue ? *inlineValue : args[++i];
        if (spec->repeats)
            parsed.repeated_[name].push_back(std::move(value));
        else
            parsed.values_[name] = std::move(value);
    }
    if (parsed.has("help")) return parsed;
    if (parsed.positional_.size() < positionals)
        throw UsageError(command, positionals == 1 ? "a file name is missing" : "arguments are missing");
    const size_t most = std::max(positionals, mostPositionals);
    if (parsed.positional_.size() > most)
        throw UsageError(command, "unexpected argument \"" + parsed.positional_[most] + "\"");
    return parsed;
}

std::string requiredValue(const std::string& command, const ParsedOptions& options, const std::string& name) {
    auto value = options.value(name);
    if (!value) throw UsageError(command, "--" + name + " is required");
    return *value;
}

}  // namespace ts::cli
