#include "platform/registry/wine_user_reg_document.h"

#include <algorithm>
#include <chrono>
#include <unordered_map>
#include <unordered_set>

#include "platform/exception.h"
#include "platform/registry/registry_hive_text.h"
#include "platform/registry/registry_limits.h"
#include "platform/registry/wine_user_reg_lines.h"

namespace ts::wine_reg {

namespace {

struct Line {
    std::string_view raw;      // with its line end
    std::string_view content;  // as Wine's reader sees it: no line end, no text after a NUL
};

class LineCursor {
public:
    explicit LineCursor(std::string_view text) : text_(text) {}

    std::optional<Line> next() {
        if (pos_ >= text_.size()) return std::nullopt;
        size_t end = text_.find('\n', pos_);
        end = end == std::string_view::npos ? text_.size() : end + 1;
        Line line{text_.substr(pos_, end - pos_), {}};
        pos_ = end;
        ++number_;
        std::string_view content = line.raw;
        if (content.ends_with('\n')) content.remove_suffix(1);
        if (content.ends_with('\r')) content.remove_suffix(1);
        line.content = content.substr(0, content.find('\0'));
        return line;
    }

    // The number of the line next() returned last, from 1.
    size_t number() const { return number_; }

private:
    std::string_view text_;
    size_t pos_ = 0;
    size_t number_ = 0;
};

std::string_view skipLeadingSpaces(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t' || text[i] == '\v' || text[i] == '\f' || text[i] == '\r'))
        ++i;
    return text.substr(i);
}

bool isKnownArch(std::string_view arch) { return arch == "win32" || arch == "win64"; }

const std::string kLeftUnchanged = " Wine ignores such a file, so it is left unchanged.";

// Wine's check of the options before the first key: an #arch it does not know, or one that
// differs from the prefix's, makes it ignore the whole file.
void checkGlobalOption(std::string_view option, const std::string& fileName, std::optional<std::string>& arch) {
    constexpr std::string_view kArchTag = "#arch=";
    if (!option.starts_with(kArchTag)) return;
    std::string_view named = option.substr(kArchTag.size());
    if (!isKnownArch(named))
        throw TsException("\"" + fileName + "\" names an unknown architecture (\"" + std::string(option) + "\")." +
                          kLeftUnchanged);
    if (!arch) {
        arch = std::string(named);
    } else if (*arch != named) {
        throw TsException("\"" + fileName + "\" is for a " + std::string(named) + " prefix, but its prefix is " + *arch +
                          "." + kLeftUnchanged);
    }
}

// The registry's own limits: a file past them was damaged or made by something else, and a
// load must not hold what it claims.
[[noreturn]] void pastLimit(const std::string& fileName, size_t line, const std::string& what) {
    throw TsException("\"" + fileName + "\" is damaged or not made by Wine: line " + std::to_string(line) + " holds " +
                      what + ". It is left unchanged.");
}

void checkKeyPath(const std::vector<std::u16string>& path, const std::string& fileName, size_t line) {
    using namespace registry_limits;
    if (path.size() > kMaxKeyDepth)
        pastLimit(fileName, line, "a key path deeper than " + std::to_string(kMaxKeyDepth) + " keys");
    for (const std::u16string& name : path)
        if (name.size() > kMaxKeyNameChars)
            pastLimit(fileName, line, "a key name longer than " + std::to_string(kMaxKeyNameChars) + " characters");
}

void checkValue(const RegValue& value, const std::string& fileName, size_t line) {
    using namespace registry_limits;
    if (utf16Units(value.name) > kMaxValueNameChars)
        pastLimit(fileName, line, "a value name longer than " + std::to_string(kMaxValueNameChars) + " characters");
    if (static_cast<int64_t>(value.data.size()) > kMaxValueDataBytes)
        pastLimit(fileName, line, "a value of more than " + std::to_string(kMaxValueDataBytes) + " bytes");
}

void ensureLineEnd(std::string& out) {
    if (!out.empty() && out.back() != '\n') out += '\n';
}

void appendFormattedValue(std::string& out, const RegValue& value) {
    ensureLineEnd(out);
    out += formatValue(value);
}

void appendNewValues(std::string& out, const hive::Key& key) {
    for (const hive::StoredValue& stored : key.values)
        if (stored.origin == 0) appendFormattedValue(out, stored.value);
}

// Writes, in Wine's order, a record for every key that has none in the file but needs one:
// a key with values, or one without subkeys (a parent with subkeys comes back implicitly).
void appendNewKeys(std::string& out, const hive::Key& key, hive::KeyPath& path, bool isRoot,
                   const std::unordered_set<const hive::Key*>& keysWithRecords, WriteTime time) {
    bool needsRecord = !key.values.empty() || (!isRoot && key.subkeys.empty());
    if (needsRecord && !keysWithRecords.contains(&key)) {
        ensureLineEnd(out);
        if (!out.ends_with("\n\n")) out += '\n';
        out += formatKeyHeader(path, time.unixSeconds, time.hundredNanoseconds);
        appendNewValues(out, key);
    }
    for (const auto& [folded, subkey] : key.subkeys) {
        path.push_back(subkey->name);
        appendNewKeys(out, *subkey, path, false, keysWithRecords, time);
        path.pop_back();
    }
}

}  // namespace

Document parseUserReg(std::string_view text, hive::KeyTree& tree, const std::string& fileName,
                      const std::optional<std::string>& prefixArch) {
    LineCursor cursor(text);
    auto first = cursor.next();
    if (!first || first->content != kFirstLine)
        throw TsException("\"" + fileName + "\" is not a registry file Wine can read: its first line must be \"" +
                          std::string(kFirstLine) + "\"." + kLeftUnchanged);
    Document document;
    document.header = first->raw;
    document.endedWithBlankLine = text.ends_with("\n\n");
    std::optional<std::string> arch;
    if (prefixArch && isKnownArch(*prefixArch)) arch = prefixArch;

    // Wine ends every line it writes; a last line without its end that is no whole entry
    // shows a file cut short (a write killed halfway), and one holding a NUL a file filled
    // with zeros after a crash. Either would lose keys if it were saved over.
    const auto cutShort = [&](size_t line) {
        return TsException("\"" + fileName + "\" is cut short or damaged at line " + std::to_string(line) +
                           ", so it is not used." + kLeftUnchanged);
    };
    if (const size_t nul = text.find('\0'); nul != std::string_view::npos)
        throw cutShort(static_cast<size_t>(std::count(text.begin(), text.begin() + static_cast<long>(nul), '\n')) + 1);
    bool lastLineWhole = true;

    DocumentSection* section = nullptr;
    std::shared_ptr<hive::Key> key;
    uint64_t nextValueId = 1;
    while (auto line = cursor.next()) {
        std::string_view content = skipLeadingSpaces(line->content);
        char lead = content.empty() ? '\0' : content.front();
        lastLineWhole = lead != '[' && lead != '@' && lead != '"';
        if (lead == '[') {
            section = &document.sections.emplace_back();
            key = nullptr;
            if (auto path = parseKeyPath(content.substr(1))) {
                lastLineWhole = true;
                checkKeyPath(*path, fileName, cursor.number());
                bool created;
                key = tree.create(*path, created);
                section->key = key;
                section->belongsToKey = true;
            }
            section->lines.push_back(DocumentLine{std::string(line->raw), 0, {}});
            continue;
        }
        if (!section) {
            if (lead == '#') checkGlobalOption(content, fileName, arch);
            document.header += line->raw;
            continue;
        }
        DocumentLine entry{std::string(line->raw), 0, {}};
        bool isContent = lead == '#';
        if ((lead == '@' || lead == '"') && key) {
            const size_t valueLine = cursor.number();
            auto parsed = parseValue(content, [&]() -> std::optional<std::string_view> {
                auto continuation = cursor.next();
                if (!continuation) {
                    entry.openEnded = true;
                    return std::nullopt;
                }
                entry.raw += continuation->raw;
                return skipLeadingSpaces(continuation->content);
            });
            if (parsed) {
                lastLineWhole = parsed->wellFormed && !entry.openEnded;
                checkValue(parsed->value, fileName, valueLine);
                entry.valueId = nextValueId++;
                entry.valueFolded = hive_text::foldCase(hive_text::toUtf16(parsed->value.name));
                hive::KeyTree::loadValue(*key, std::move(parsed->value), entry.valueId);
                isContent = true;
            }
        }
        section->lines.push_back(std::move(entry));
        if (isContent) section->lastContentLine = section->lines.size() - 1;
    }
    // A value whose continuation never came, in a file cut inside its line. (One that ends
    // its line is left alone: a save of ours writes such a line back as it was read, and it
    // may end up last when the keys after it are deleted.)
    const bool openEnded = section && !section->lines.empty() && section->lines.back().openEnded;
    if (!text.empty() && text.back() != '\n' && (openEnded || !lastLineWhole)) throw cutShort(cursor.number());
    return document;
}

Document newUserRegDocument(const std::optional<std::string>& prefixArch) {
    Document document;
    document.header = std::string(kFirstLine) + "\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n";
    if (prefixArch && isKnownArch(*prefixArch)) document.header += "\n#arch=" + *prefixArch + "\n";
    return document;
}

WriteTime WriteTime::now() {
    auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(
                     std::chrono::system_clock::now().time_since_epoch()).count() / 100;
    return WriteTime{ticks / 10000000, static_cast<uint32_t>(ticks % 10000000)};
}

std::string renderUserReg(const Document& document, const hive::KeyTree& tree, WriteTime time) {
    std::unordered_map<const hive::Key*, size_t> lastRecordOf;
    for (size_t i = 0; i < document.sections.size(); ++i)
        if (auto key = document.sections[i].key.lock()) lastRecordOf[key.get()] = i;

    std::string out = document.header;
    // A value whose last line asks for a continuation at the end of the file would swallow
    // whatever is written after it; it is then written anew in Wine's form.
    struct OpenEnd {
        size_t start = 0, end = 0;
        const hive::StoredValue* value = nullptr;
    } openEnd;
    for (size_t i = 0; i < document.sections.size(); ++i) {
        const DocumentSection& section = document.sections[i];
        std::shared_ptr<hive::Key> key;
        if (section.belongsToKey) {
            key = section.key.lock();
            if (!key) continue;
        }
        bool takesNewValues = key && lastRecordOf.at(key.get()) == i;
        for (size_t j = 0; j < section.lines.size(); ++j) {
            const DocumentLine& line = section.lines[j];
            if (line.valueId == 0) {
                out += line.raw;
            } else if (const hive::StoredValue* stored = key->findValue(line.valueFolded)) {
                // An unchanged value keeps every line that named it; a changed one is written
                // once, where Wine took it from, and its other lines go.
                if (!stored->changed) {
                    if (line.openEnded) openEnd = {out.size(), out.size() + line.raw.size(), stored};
                    out += line.raw;
                } else if (stored->origin == line.valueId) appendFormattedValue(out, stored->value);
            }
            if (takesNewValues && j == section.lastContentLine) appendNewValues(out, *key);
        }
    }

    std::unordered_set<const hive::Key*> keysWithRecords;
    for (const auto& [key, index] : lastRecordOf) keysWithRecords.insert(key);
    hive::KeyPath path;
    appendNewKeys(out, *tree.root(), path, true, keysWithRecords, time);
    if (openEnd.value && out.size() > openEnd.end)
        out.replace(openEnd.start, openEnd.end - openEnd.start, formatValue(openEnd.value->value));

    if (!document.endedWithBlankLine)
        while (out.ends_with("\n\n")) out.pop_back();
    return out;
}

std::optional<std::string> readGlobalArch(std::istream& in) {
    std::string line;
    auto content = [&]() -> std::string_view {
        std::string_view view = line;
        if (view.ends_with('\r')) view.remove_suffix(1);
        return view;
    };
    if (!std::getline(in, line) || content() != kFirstLine) return std::nullopt;
    while (std::getline(in, line)) {
        std::string_view option = skipLeadingSpaces(content());
        if (option.starts_with('[')) break;
        if (option.starts_with("#arch=")) return std::string(option.substr(6));
    }
    return std::nullopt;
}

}  // namespace ts::wine_reg
