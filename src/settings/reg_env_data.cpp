#include "settings/reg_env_data.h"

#include <optional>

#include <algorithm>
#include <string_view>

#include "platform/debug_log.h"
#include "platform/unicode.h"

namespace ts {

TtsRegEnvData::TtsRegEnvData(SettingsFile& settings) : settings_(settings) { bindRegistry(); }

TtsRegEnvData::~TtsRegEnvData() = default;

void TtsRegEnvData::bindRegistry() {
    registry_ = std::make_unique<TRegistry>(settings_.hive());
    registry_->SetRootKey(rootKey_);
    if (!keyPath_.empty()) registry_->OpenKey(keyPath_, true);
    boundGeneration_ = settings_.generation();
}

TRegistry& TtsRegEnvData::Registry() {
    if (boundGeneration_ != settings_.generation()) bindRegistry();
    return *registry_;
}

void TtsRegEnvData::SetRootKey(uint32_t root) {
    rootKey_ = root;
    Registry().SetRootKey(root);
}

bool TtsRegEnvData::OpenKey(const std::string& path) {
    keyPath_ = path;
    return Registry().OpenKey(path, true);
}

void TtsRegEnvData::reloadKey() {
    settings_.reload();
    OpenKey(keyPath_);
}

void TtsRegEnvData::openOwnKey(const std::string& path) {
    SetRootKey(HKEY_CURRENT_USER);
    bool existed = Registry().KeyExists(path);
    OpenKey(path);
    if (existed) return;
    // A settings file that cannot be written must not keep the program from starting;
    // the stores at exit report it.
    try {
        settings_.save();
    } catch (const std::exception& error) {
        debugLog(std::string("Settings: ") + error.what());
    }
}

TtsRegMainWindow::TtsRegMainWindow(SettingsFile& settings, PlacedWindow* window)
    : TtsRegEnvData(settings), window_(window) {
    openOwnKey(kMainWindowKey);
}

void TtsRegMainWindow::ReadFromRegistry() {
    if (!window_) return;
    try {
        reloadKey();
        window_->SetLeft(Registry().ReadInteger("Left"));
        window_->SetTop(Registry().ReadInteger("Top"));
        window_->SetWidth(Registry().ReadInteger("Width"));
        window_->SetHeight(Registry().ReadInteger("Height"));
    } catch (const std::exception&) {
    }
}

void TtsRegMainWindow::WriteToRegistry() {
    if (!window_) return;
    try {
        reloadKey();
        Registry().WriteInteger("Left", window_->Left());
        Registry().WriteInteger("Top", window_->Top());
        Registry().WriteInteger("Width", window_->Width());
        Registry().WriteInteger("Height", window_->Height());
        settings_.save();
    } catch (const std::exception& error) {
        debugLog(std::string("Settings: ") + error.what());
    }
}

TtsRegOptions::TtsRegOptions(SettingsFile& settings) : TtsRegEnvData(settings) { openOwnKey(kOptionsKey); }

void TtsRegOptions::ReadFromRegistry() {
    reloadKey();
    try {
        CompressionLevel = static_cast<uint8_t>(Registry().ReadInteger("CompressionLevel") & 0xFF);
    } catch (const ERegistryException&) {
    }
}

void TtsRegOptions::WriteToRegistry() {
    reloadKey();
    Registry().WriteInteger("CompressionLevel", CompressionLevel);
    settings_.save();
}

TtsRegProjects::TtsRegProjects(SettingsFile& settings) : TtsRegEnvData(settings) { openOwnKey(kProjectsKey); }

namespace {

std::string lowerText(std::string_view text) {
    std::string out;
    for (size_t i = 0; i < text.size();) {
        char32_t cp;
        size_t used = unicode::decodeUtf8(text, i, cp);
        if (used == 0) {  // not UTF-8: compare the byte as it is
            out += text[i++];
            continue;
        }
        unicode::appendUtf8(out, unicode::lowerCase(cp));
        i += used;
    }
    return out;
}

bool isDecimal(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Numeric order of decimal names of any length, without converting them.
bool numericallyBefore(const std::string& a, const std::string& b) {
    std::string_view x(a), y(b);
    while (x.size() > 1 && x.front() == '0') x.remove_prefix(1);
    while (y.size() > 1 && y.front() == '0') y.remove_prefix(1);
    if (x.size() != y.size()) return x.size() < y.size();
    return x < y;
}

}  // namespace

int TtsRegProjects::IndexOf(const std::string& path) const {
    const std::string wanted = lowerText(path);
    for (size_t i = 0; i < ProjectFiles.size(); ++i)
        if (lowerText(ProjectFiles[i]) == wanted) return static_cast<int>(i);
    return -1;
}

void TtsRegProjects::Delete(int index) {
    if (index < 0 || index >= static_cast<int>(ProjectFiles.size())) return;
    ProjectFiles.erase(ProjectFiles.begin() + index);
}

void TtsRegProjects::ReadFromRegistry() {
    ProjectFiles.clear();
    reloadKey();
    std::vector<std::string> names;
    Registry().GetValueNames(names);
    if (std::all_of(names.begin(), names.end(), isDecimal))
        std::stable_sort(names.begin(), names.end(), numericallyBefore);
    // One bad value costs only itself: the store at exit rewrites the key from this list.
    std::optional<ERegistryException> firstBad;
    for (const std::string& name : names) {
        try {
            ProjectFiles.push_back(Registry().ReadString(name));
        } catch (const ERegistryException& error) {
            if (!firstBad) firstBad = error;
        }
    }
    if (firstBad) throw *firstBad;
}

void TtsRegProjects::WriteToRegistry() {
    reloadKey();
    Registry().DeleteKey(KeyPath());
    OpenKey(KeyPath());
    for (size_t i = 0; i < ProjectFiles.size(); ++i) Registry().WriteString(std::to_string(i), ProjectFiles[i]);
    settings_.save();
}

TtsRegXPEnv::TtsRegXPEnv(SettingsFile& settings) : options_(settings), projects_(settings) {}

void TtsRegXPEnv::ReadFromRegistry() {
    options_.SetRootKey(HKEY_CURRENT_USER);
    options_.OpenKey(kOptionsKey);
    options_.ReadFromRegistry();
    projects_.SetRootKey(HKEY_CURRENT_USER);
    projects_.OpenKey(kProjectsKey);
    projects_.ReadFromRegistry();
}

void TtsRegXPEnv::WriteToRegistry() {
    options_.SetRootKey(HKEY_CURRENT_USER);
    options_.OpenKey(kOptionsKey);
    options_.WriteToRegistry();
    projects_.SetRootKey(HKEY_CURRENT_USER);
    projects_.OpenKey(kProjectsKey);
    projects_.WriteToRegistry();
}

}  // namespace ts
