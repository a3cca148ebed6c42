// Parsing of the standard .res format and of the resources in it. Internal to the layer.
// Every function takes untrusted bytes: each size is checked against them, nothing is read
// past them, and anything malformed gives no result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/base/types.h"
#include "platform/modules/resource_types.h"

namespace platform::res {

constexpr WORD kTypeIcon = 3;
constexpr WORD kTypeDialog = 5;
constexpr WORD kTypeString = 6;
constexpr WORD kTypeGroupIcon = 14;

// A resource type or name: an ordinal, or a text (UTF-8, compared without case).
struct Name {
    bool isOrdinal = false;
    WORD ordinal = 0;
    std::string text;
};

struct Entry {
    Name type, name;
    WORD language = 0;
    const uint8_t* data = nullptr;  // points into the blob given to ParseResFile
    size_t size = 0;
};

// The entries of a .res blob (the empty entry that starts such a file is left out).
std::optional<std::vector<Entry>> ParseResFile(const uint8_t* blob, size_t size);

// The first entry of a type and name; null when there is none.
const Entry* FindEntry(const std::vector<Entry>& entries, WORD type, const Name& name);

// A DIALOGEX or DIALOG template.
std::optional<DialogTemplate> ParseDialog(const uint8_t* data, size_t size);

// String `index` (0 to 15) of a string-table block.
std::optional<std::string> StringFromBlock(const uint8_t* data, size_t size, unsigned index);

struct GroupIconItem {
    int width = 0, height = 0;  // as the group says; 0 means 256
    WORD bitCount = 0;
    WORD iconId = 0;  // ordinal of the RT_ICON entry
};
std::optional<std::vector<GroupIconItem>> ParseGroupIcon(const uint8_t* data, size_t size);

// True for an icon image stored as PNG, which DecodeIconImage does not decode.
bool IsPngImage(const uint8_t* data, size_t size);
// An icon image stored as a device-independent bitmap: 32-bit with alpha, or 24, 8, 4 or 1 bit
// with the AND mask giving transparency.
std::optional<IconImage> DecodeIconImage(const uint8_t* data, size_t size);

}  // namespace platform::res
