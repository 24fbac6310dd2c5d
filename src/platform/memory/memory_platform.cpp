#include "platform/memory/memory_platform.h"

#include <algorithm>
#include <cassert>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>

namespace platform {

struct MemoryNode {
    std::string name;
    std::vector<std::pair<std::string, std::string>> values;
    std::vector<std::shared_ptr<MemoryNode>> subkeys;
    bool removed = false;
    int timesOpened = 0;
};

namespace {

// The registry's own codes, so that results read as they would on Windows.
constexpr Status kFileNotFound = 2;
constexpr Status kInvalidHandle = 6;
constexpr Status kInvalidParameter = 87;
constexpr Status kMoreData = 234;
constexpr Status kNoMoreItems = 259;
constexpr Status kKeyDeleted = 1018;
constexpr std::int32_t kNullPointer = static_cast<std::int32_t>(0x80004003u); // E_POINTER

char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b) {
    return std::ranges::equal(a, b, [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

std::shared_ptr<MemoryNode> findSubkey(const MemoryNode& parent, std::string_view name) {
    const auto found = std::ranges::find_if(
        parent.subkeys, [name](const auto& subkey) { return sameName(subkey->name, name); });
    return found == parent.subkeys.end() ? nullptr : *found;
}

std::shared_ptr<MemoryNode> addSubkey(MemoryNode& parent, std::string_view name) {
    auto subkey = std::make_shared<MemoryNode>();
    subkey->name = name;
    parent.subkeys.push_back(subkey);
    return subkey;
}

// Calls `step` for each non-empty step of a backslash-separated path.
template <typename Step>
void forEachStep(std::string_view path, Step step) {
    while (!path.empty()) {
        const auto end = path.find('\\');
        const auto name = path.substr(0, end);
        if (!name.empty()) {
            step(name);
        }
        path = end == std::string_view::npos ? std::string_view{} : path.substr(end + 1);
    }
}

// Splits off the last non-empty step of a path: {parent path, name}.
std::pair<std::string_view, std::string_view> splitLast(std::string_view path) {
    while (!path.empty() && path.back() == '\\') {
        path.remove_suffix(1);
    }
    const auto slash = path.rfind('\\');
    if (slash == std::string_view::npos) {
        return {{}, path};
    }
    return {path.substr(0, slash), path.substr(slash + 1)};
}

void markRemoved(MemoryNode& node) {
    node.removed = true;
    for (const auto& subkey : node.subkeys) {
        markRemoved(*subkey);
    }
}

Status copyText(std::string_view text, char* out, std::uint32_t size) {
    if (out == nullptr) {
        return kInvalidParameter;
    }
    if (text.size() >= size) {
        return kMoreData;
    }
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
    return kOk;
}

bool sameClass(const ComGuid& a, const ComGuid& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    c = asciiLower(c);
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// Reads `digits` hex digits at `text`, stopping at the first character that is not one (a
// terminator included), so nothing past the text is read.
bool readHex(const char*& text, int digits, std::uint64_t& value) {
    value = 0;
    for (int i = 0; i < digits; ++i) {
        const int digit = hexDigit(*text);
        if (digit < 0) {
            return false;
        }
        value = value << 4 | static_cast<std::uint64_t>(digit);
        ++text;
    }
    return true;
}

bool expect(const char*& text, char c) {
    if (*text != c) {
        return false;
    }
    ++text;
    return true;
}

} // namespace

MemoryKey::MemoryKey(std::shared_ptr<MemoryNode> node)
    : m_node(std::move(node)) {}

MemoryKey MemoryKey::createKey(std::string_view path) {
    auto node = m_node;
    forEachStep(path, [&node](std::string_view name) {
        auto existing = findSubkey(*node, name);
        node = existing ? std::move(existing) : addSubkey(*node, name);
    });
    return MemoryKey(node);
}

MemoryKey MemoryKey::appendKey(std::string_view path) {
    const auto [parentPath, name] = splitLast(path);
    return MemoryKey(addSubkey(*createKey(parentPath).m_node, name));
}

MemoryKey& MemoryKey::setValue(std::string_view name, std::string_view text) {
    auto& values = m_node->values;
    const auto found = std::ranges::find_if(
        values, [name](const auto& value) { return sameName(value.first, name); });
    if (found == values.end()) {
        values.emplace_back(name, text);
    } else {
        found->second = text;
    }
    return *this;
}

bool MemoryKey::removeKey(std::string_view path) {
    const auto [parentPath, name] = splitLast(path);
    auto parent = m_node;
    forEachStep(parentPath, [&parent](std::string_view step) {
        parent = parent ? findSubkey(*parent, step) : nullptr;
    });
    if (!parent || name.empty()) {
        return false;
    }
    auto& subkeys = parent->subkeys;
    const auto found = std::ranges::find_if(
        subkeys, [name](const auto& subkey) { return sameName(subkey->name, name); });
    if (found == subkeys.end()) {
        return false;
    }
    markRemoved(**found);
    subkeys.erase(found);
    return true;
}

int MemoryKey::timesOpened() const {
    return m_node->timesOpened;
}

MemoryPlatform::MemoryPlatform()
    : m_localMachine(std::make_shared<MemoryNode>())
    , m_classesRoot(std::make_shared<MemoryNode>()) {
    m_localMachine->name = "HKEY_LOCAL_MACHINE";
    m_classesRoot->name = "HKEY_CLASSES_ROOT";
}

MemoryPlatform::~MemoryPlatform() = default;

MemoryKey MemoryPlatform::localMachine() {
    return MemoryKey(m_localMachine);
}

MemoryKey MemoryPlatform::classesRoot() {
    return MemoryKey(m_classesRoot);
}

void MemoryPlatform::registerClass(const ComGuid& classId, Factory factory) {
    setClass({classId, std::move(factory), 0});
}

void MemoryPlatform::failClass(const ComGuid& classId, std::int32_t code) {
    assert(code != 0 && "a failure needs a non-zero code");
    setClass({classId, nullptr, code});
}

void MemoryPlatform::setClass(ClassEntry entry) {
    const auto found = std::ranges::find_if(m_classes, [&entry](const ClassEntry& known) {
        return sameClass(known.classId, entry.classId);
    });
    if (found == m_classes.end()) {
        m_classes.push_back(std::move(entry));
    } else {
        *found = std::move(entry);
    }
}

std::shared_ptr<MemoryNode> MemoryPlatform::nodeOf(RegKey key) const {
    if (key == kLocalMachine) {
        return m_localMachine;
    }
    if (key == kClassesRoot) {
        return m_classesRoot;
    }
    const auto open = m_openKeys.find(key);
    return open == m_openKeys.end() ? nullptr : open->second;
}

Status MemoryPlatform::openKey(RegKey parent, const char* path, RegKey* out) {
    if (out == nullptr) {
        return kInvalidParameter;
    }
    auto node = nodeOf(parent);
    if (!node) {
        return kInvalidHandle;
    }
    // Unlike the building calls, a lookup fails on an empty step, as the registry does.
    if (std::string_view rest = path == nullptr ? "" : path; !rest.empty()) {
        for (;;) {
            const auto end = rest.find('\\');
            const auto name = rest.substr(0, end);
            node = name.empty() ? nullptr : findSubkey(*node, name);
            if (!node || end == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(end + 1);
        }
    }
    if (!node) {
        return kFileNotFound;
    }
    if (node->removed) {
        return kKeyDeleted;
    }
    ++node->timesOpened;
    ++m_keysOpenedInTotal;
    *out = m_nextHandle++;
    m_openKeys.emplace(*out, std::move(node));
    return kOk;
}

Status MemoryPlatform::enumKey(RegKey key, std::uint32_t index, char* name, std::uint32_t size) {
    const auto node = nodeOf(key);
    if (!node) {
        return kInvalidHandle;
    }
    if (node->removed) {
        return kKeyDeleted;
    }
    if (index >= node->subkeys.size()) {
        return kNoMoreItems;
    }
    return copyText(node->subkeys[index]->name, name, size);
}

Status MemoryPlatform::queryValue(RegKey key, const char* valueName, char* data,
                                  std::uint32_t size) {
    const auto node = nodeOf(key);
    if (!node) {
        return kInvalidHandle;
    }
    if (node->removed) {
        return kKeyDeleted;
    }
    const std::string_view wanted = valueName == nullptr ? "" : valueName;
    const auto found = std::ranges::find_if(
        node->values, [wanted](const auto& value) { return sameName(value.first, wanted); });
    if (found == node->values.end()) {
        return kFileNotFound;
    }
    return copyText(found->second, data, size);
}

void MemoryPlatform::closeKey(RegKey key) {
    if (key == kLocalMachine || key == kClassesRoot) {
        return;
    }
    if (m_openKeys.erase(key) == 0) {
        ++m_invalidCloses;
    }
}

void MemoryPlatform::lowerCase(char* text, std::uint32_t length) {
    if (text == nullptr) {
        return;
    }
    std::transform(text, text + length, text, asciiLower);
}

bool MemoryPlatform::fileExists(const char* path) {
    if (path == nullptr || *path == '\0') {
        return false;
    }
    std::error_code error;
    return std::filesystem::is_regular_file(path, error);
}

bool MemoryPlatform::classIdFromText(const char* text, ComGuid* out) {
    if (text == nullptr || out == nullptr) {
        return false;
    }
    std::uint64_t data1 = 0;
    std::uint64_t data2 = 0;
    std::uint64_t data3 = 0;
    std::uint64_t clockSequence = 0;
    std::uint64_t node = 0;
    const char* at = text;
    const bool shaped = expect(at, '{') && readHex(at, 8, data1) && expect(at, '-') &&
                        readHex(at, 4, data2) && expect(at, '-') && readHex(at, 4, data3) &&
                        expect(at, '-') && readHex(at, 4, clockSequence) && expect(at, '-') &&
                        readHex(at, 12, node) && expect(at, '}') && *at == '\0';
    if (!shaped) {
        return false;
    }
    out->data1 = static_cast<std::uint32_t>(data1);
    out->data2 = static_cast<std::uint16_t>(data2);
    out->data3 = static_cast<std::uint16_t>(data3);
    out->data4[0] = static_cast<std::uint8_t>(clockSequence >> 8);
    out->data4[1] = static_cast<std::uint8_t>(clockSequence);
    for (int i = 0; i < 6; ++i) {
        out->data4[2 + i] = static_cast<std::uint8_t>(node >> (8 * (5 - i)));
    }
    return true;
}

std::int32_t MemoryPlatform::createInstance(const ComGuid& classId, IASIO** out) {
    ++m_createInstances;
    if (out == nullptr) {
        return kNullPointer;
    }
    *out = nullptr;
    const auto found = std::ranges::find_if(m_classes, [&classId](const ClassEntry& known) {
        return sameClass(known.classId, classId);
    });
    if (found == m_classes.end()) {
        return kClassNotRegistered;
    }
    if (!found->factory) {
        return found->code;
    }
    *out = found->factory();
    return *out == nullptr ? kCreationFailed : kOk;
}

std::string classIdText(const ComGuid& classId) {
    char text[39];
    std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned>(classId.data1), static_cast<unsigned>(classId.data2),
                  static_cast<unsigned>(classId.data3), classId.data4[0], classId.data4[1],
                  classId.data4[2], classId.data4[3], classId.data4[4], classId.data4[5],
                  classId.data4[6], classId.data4[7]);
    return text;
}

} // namespace platform
