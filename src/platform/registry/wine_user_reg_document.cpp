#include "platform/registry/wine_user_reg_document.h"

#include <algorithm>
#include <chrono>

#include "platform/exception.h"
#include "platform/registry/registry_hive_text.h"
#include "platform/registry/registry_limits.h"
#include "platform/registry/wine_user_reg_lines.h"

namespace ts::wine_reg {

namespace {

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

// user.reg as Wine's reader walks it: the lines before the first key, key lines, the value
// lines of a key it can read (each with its continuation lines) and every other line. The
// load and the write-back take the same walk, so they always agree on what a line is.
struct Entry {
    enum class Kind { Header, Key, Value, Other } kind = Kind::Other;
    std::string_view raw;       // the line(s) exactly as read, line ends included
    std::string_view content;   // the first line as Wine's reader sees it
    char lead = '\0';           // its first character after leading spaces
    size_t offset = 0;          // of raw in the text
    size_t lineNumber = 0;      // of the first line
    std::optional<hive::KeyPath> path;   // Key: the key, when Wine can read the line
    std::optional<ParsedValue> value;    // Value
    bool openEnded = false;     // Value: hex data continued past the end of the file
};

class Walk {
public:
    explicit Walk(std::string_view text) : text_(text), cursor_(text) {}

    std::optional<Entry> next() {
        Entry entry;
        entry.offset = cursor_.offset();
        auto line = cursor_.next();
        if (!line) return std::nullopt;
        entry.raw = line->raw;
        entry.content = line->content;
        entry.lineNumber = cursor_.number();
        const std::string_view content = skipLeadingSpaces(line->content);
        entry.lead = content.empty() ? '\0' : content.front();
        if (entry.lead == '[') {
            entry.kind = Entry::Kind::Key;
            entry.path = parseKeyPath(content.substr(1));
            inSection_ = true;
            sectionHasKey_ = entry.path.has_value();
            return entry;
        }
        if (!inSection_) {
            entry.kind = Entry::Kind::Header;
            return entry;
        }
        if ((entry.lead == '@' || entry.lead == '"') && sectionHasKey_) {
            size_t end = entry.offset + entry.raw.size();
            entry.value = parseValue(content, [&]() -> std::optional<std::string_view> {
                auto continuation = cursor_.next();
                if (!continuation) {
                    entry.openEnded = true;
                    return std::nullopt;
                }
                end += continuation->raw.size();
                return skipLeadingSpaces(continuation->content);
            });
            if (entry.value) entry.kind = Entry::Kind::Value;
            entry.raw = text_.substr(entry.offset, end - entry.offset);
        }
        return entry;
    }

private:
    std::string_view text_;
    LineCursor cursor_;
    bool inSection_ = false;
    bool sectionHasKey_ = false;
};

// The written file, handed on in pieces. Line ends at the end are held back until more
// follows, so that blank lines a deleted last key leaves can be dropped at the end.
class TextOut {
public:
    explicit TextOut(const TextSink& sink) : sink_(sink) {}

    void write(std::string_view text) {
        const size_t last = text.find_last_not_of('\n');
        if (last == std::string_view::npos) {
            heldLineEnds_ += text.size();
            return;
        }
        emit(std::string(heldLineEnds_, '\n'));
        emit(text.substr(0, last + 1));
        heldLineEnds_ = text.size() - last - 1;
        wroteAny_ = true;
    }
    bool empty() const { return !wroteAny_ && heldLineEnds_ == 0; }
    bool endsWithLineEnd() const { return heldLineEnds_ > 0; }
    bool endsWithBlankLine() const { return heldLineEnds_ >= 2; }

    void ensureLineEnd() {
        if (!empty() && !endsWithLineEnd()) write("\n");
    }
    void finish(bool keepBlankLines) {
        emit(std::string(keepBlankLines ? heldLineEnds_ : std::min<size_t>(heldLineEnds_, 1), '\n'));
        heldLineEnds_ = 0;
        if (!buffer_.empty()) sink_(buffer_);
        buffer_.clear();
    }

private:
    void emit(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= kPieceBytes) {
            sink_(buffer_);
            buffer_.clear();
        }
    }

    static constexpr size_t kPieceBytes = 256 * 1024;
    const TextSink& sink_;
    std::string buffer_;
    size_t heldLineEnds_ = 0;
    bool wroteAny_ = false;
};

void appendFormattedValue(TextOut& out, const RegValue& value) {
    out.ensureLineEnd();
    out.write(formatValue(value));
}

bool hasNewValues(const hive::Key& key) {
    return std::any_of(key.values.begin(), key.values.end(), [](const hive::StoredValue& v) { return v.origin == 0; });
}

void appendNewValues(TextOut& out, const hive::KeyTree& tree, const hive::Key& key) {
    for (const hive::StoredValue& stored : key.values)
        if (stored.origin == 0) appendFormattedValue(out, tree.valueOf(stored));
}

// A key the file has no record of needs one when it has values, or has no subkeys (a
// parent with subkeys comes back implicitly).
bool needsNewRecord(const hive::Key& key, bool isRoot) {
    return key.lastRecord == 0 && (!key.values.empty() || (!isRoot && key.subkeys.empty()));
}

bool anyNeedsNewRecord(const hive::Key& key, bool isRoot) {
    if (needsNewRecord(key, isRoot)) return true;
    return std::any_of(key.subkeys.begin(), key.subkeys.end(),
                       [](const auto& subkey) { return anyNeedsNewRecord(*subkey.second, false); });
}

// Writes, in Wine's order, a record for every key that needs one.
void appendNewKeys(TextOut& out, const hive::KeyTree& tree, const hive::Key& key, hive::KeyPath& path, bool isRoot,
                   WriteTime time) {
    if (needsNewRecord(key, isRoot)) {
        out.ensureLineEnd();
        if (!out.endsWithBlankLine()) out.write("\n");
        out.write(formatKeyHeader(path, time.unixSeconds, time.hundredNanoseconds));
        appendNewValues(out, tree, key);
    }
    for (const auto& [folded, subkey] : key.subkeys) {
        path.push_back(subkey->name);
        appendNewKeys(out, tree, *subkey, path, false, time);
        path.pop_back();
    }
}

}  // namespace

Document parseUserReg(std::string text, hive::KeyTree& tree, const std::string& fileName,
                      const std::optional<std::string>& prefixArch) {
    auto source = std::make_shared<const std::string>(std::move(text));
    const std::string_view view = *source;
    Walk walk(view);
    auto first = walk.next();
    if (!first || first->content != kFirstLine)
        throw TsException("\"" + fileName + "\" is not a registry file Wine can read: its first line must be \"" +
                          std::string(kFirstLine) + "\"." + kLeftUnchanged);
    std::optional<std::string> arch;
    if (prefixArch && isKnownArch(*prefixArch)) arch = prefixArch;

    // Wine ends every line it writes; a last line without its end that is no whole entry
    // shows a file cut short (a write killed halfway), and one holding a NUL a file filled
    // with zeros after a crash. Either would lose keys if it were saved over.
    const auto cutShort = [&](size_t line) {
        return TsException("\"" + fileName + "\" is cut short or damaged at line " + std::to_string(line) +
                           ", so it is not used." + kLeftUnchanged);
    };
    if (const size_t nul = view.find('\0'); nul != std::string_view::npos)
        throw cutShort(static_cast<size_t>(std::count(view.begin(), view.begin() + static_cast<long>(nul), '\n')) + 1);

    tree.setSource(source);
    bool lastLineWhole = true;
    bool lastOpenEnded = false;
    size_t lastLine = first->lineNumber;
    uint32_t record = 0;
    std::shared_ptr<hive::Key> key;
    while (auto entry = walk.next()) {
        lastLineWhole = entry->lead != '[' && entry->lead != '@' && entry->lead != '"';
        lastOpenEnded = entry->openEnded;
        lastLine = entry->lineNumber;
        switch (entry->kind) {
            case Entry::Kind::Header:
                if (entry->lead == '#') checkGlobalOption(skipLeadingSpaces(entry->content), fileName, arch);
                break;
            case Entry::Kind::Key:
                ++record;
                key = nullptr;
                if (entry->path) {
                    lastLineWhole = true;
                    checkKeyPath(*entry->path, fileName, entry->lineNumber);
                    bool created;
                    key = tree.create(*entry->path, created);
                    key->lastRecord = record;
                }
                break;
            case Entry::Kind::Value:
                lastLineWhole = entry->value->wellFormed && !entry->openEnded;
                checkValue(entry->value->value, fileName, entry->lineNumber);
                tree.loadValue(*key, entry->value->value, entry->offset + 1);
                break;
            case Entry::Kind::Other:
                break;
        }
    }
    // A value whose continuation never came, in a file cut inside its line. (One that ends
    // its line is left alone: a save of ours writes such a line back as it was read, and it
    // may end up last when the keys after it are deleted.)
    if (!view.empty() && view.back() != '\n' && (lastOpenEnded || !lastLineWhole)) throw cutShort(lastLine);
    return Document{std::move(source), view.ends_with("\n\n")};
}

std::string newUserRegText(const std::optional<std::string>& prefixArch) {
    std::string text = std::string(kFirstLine) + "\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n";
    if (prefixArch && isKnownArch(*prefixArch)) text += "\n#arch=" + *prefixArch + "\n";
    return text;
}

WriteTime WriteTime::now() {
    auto ticks = std::chrono::duration_cast<std::chrono::nanoseconds>(
                     std::chrono::system_clock::now().time_since_epoch()).count() / 100;
    return WriteTime{ticks / 10000000, static_cast<uint32_t>(ticks % 10000000)};
}

void renderUserReg(const Document& document, const hive::KeyTree& tree, WriteTime time, const TextSink& write) {
    TextOut out(write);
    Walk walk(*document.text);
    uint32_t record = 0;
    std::shared_ptr<hive::Key> key;  // of the record being written
    bool skipping = false;           // a record of a key deleted since the file was read
    bool takesNewValues = false;     // the key's last record: its new values go after its last content line
    std::string afterContent;        // ...and before the lines after that line
    const auto endRecord = [&] {
        if (!takesNewValues) return;
        appendNewValues(out, tree, *key);
        out.write(afterContent);
        afterContent.clear();
        takesNewValues = false;
    };
    const auto writeContent = [&](std::string_view raw) {
        out.write(afterContent);
        afterContent.clear();
        out.write(raw);
    };
    while (auto entry = walk.next()) {
        switch (entry->kind) {
            case Entry::Kind::Header:
                out.write(entry->raw);
                break;
            case Entry::Kind::Key:
                endRecord();
                ++record;
                key = entry->path ? tree.find(*entry->path) : nullptr;
                skipping = entry->path && !(key && key->lastRecord != 0);
                if (skipping) break;
                takesNewValues = key && key->lastRecord == record;
                out.write(entry->raw);
                break;
            case Entry::Kind::Other:
                if (skipping) break;
                if (entry->lead == '#') {
                    writeContent(entry->raw);
                } else if (takesNewValues) {
                    afterContent += entry->raw;
                } else {
                    out.write(entry->raw);
                }
                break;
            case Entry::Kind::Value: {
                if (skipping) break;
                writeContent({});
                const std::u16string folded = hive_text::foldCase(hive_text::toUtf16(entry->value->value.name));
                const hive::StoredValue* stored = tree.findValue(*key, folded);
                if (!stored) break;
                // An unchanged value keeps every line that named it; a changed one is written
                // once, where Wine took it from, and its other lines go. A last line that asks
                // for a continuation would swallow whatever is written after it: it is then
                // written anew in Wine's form.
                const bool swallows = entry->openEnded && ((takesNewValues && hasNewValues(*key)) ||
                                                           anyNeedsNewRecord(*tree.root(), true));
                if (!stored->changed && !swallows) {
                    out.write(entry->raw);
                } else if (!stored->changed || stored->origin == entry->offset + 1) {
                    appendFormattedValue(out, tree.valueOf(*stored));
                }
                break;
            }
        }
    }
    endRecord();
    hive::KeyPath path;
    appendNewKeys(out, tree, *tree.root(), path, true, time);
    out.finish(document.endedWithBlankLine);
}

std::string renderUserReg(const Document& document, const hive::KeyTree& tree, WriteTime time) {
    std::string text;
    renderUserReg(document, tree, time, [&](std::string_view piece) { text += piece; });
    return text;
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
