// Any bytes as a user.reg: reading never crashes or hangs, writing back an unchanged file
// gives the same bytes, and an edit written back reads back as made.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/exception.h"
#include "platform/registry/registry_hive_text.h"
#include "platform/registry/registry_hive_tree.h"
#include "platform/registry/wine_user_reg_document.h"

namespace {

void check(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace ts;
    std::string text(reinterpret_cast<const char*>(data), size);
    hive::KeyTree tree;
    wine_reg::Document document;
    try {
        document = wine_reg::parseUserReg(text, tree, "user.reg", std::nullopt);
    } catch (const TsException&) {
        return 0;
    }
    const wine_reg::WriteTime time{1700000000, 0};
    check(wine_reg::renderUserReg(document, tree, time) == text);

    // Change the first value found (or add one), drop the last subkey of the root, and
    // read the result back.
    std::shared_ptr<hive::Key> key = tree.root();
    hive::KeyPath path;
    while (key->values.empty() && !key->subkeys.empty()) {
        path.push_back(key->subkeys.begin()->second->name);
        key = key->subkeys.begin()->second;
    }
    RegValue edited = key->values.empty() ? RegValue::dword("fuzz", 1) : tree.valueOf(key->values.front());
    edited.type = REG_SZ;
    edited.data = {'z', 0, 0, 0};
    tree.storeValue(*key, edited);
    std::u16string erased;
    if (tree.root()->subkeys.size() > 1) {
        erased = std::prev(tree.root()->subkeys.end())->first;
        tree.root()->subkeys.erase(erased);
    }
    std::string rewritten = wine_reg::renderUserReg(document, tree, time);

    hive::KeyTree reread;
    wine_reg::parseUserReg(rewritten, reread, "user.reg", std::nullopt);
    if (!erased.empty()) check(!reread.root()->subkeys.contains(erased));
    auto sameKey = reread.find(path);
    check(sameKey != nullptr);
    const hive::StoredValue* value = reread.findValue(*sameKey, hive_text::foldCase(hive_text::toUtf16(edited.name)));
    check(value && reread.valueOf(*value).type == REG_SZ && reread.valueOf(*value).data == edited.data);
    return 0;
}
