// Bridge model identification: which bridge model sits behind a disk, from the INQUIRY model
// text, the bridge information block, the probe reply, a READ BUFFER page and the bridge name.
#pragma once

#include <cstdint>

namespace qvb {

// Model table: row k holds the three-digit model code text of model code k. Row 0 is empty and
// never compared; a code that occurs twice can only ever match at its first row.
constexpr int kModelTableRows = 40;
constexpr int kModelTableRowSize = 50;
extern const char kModelTable[kModelTableRows][kModelTableRowSize];

constexpr uint8_t kModelCodeNone = 0;
constexpr uint8_t kModelCodeQvb886 = 22;

// Largest READ BUFFER page exponent read: the page must fit the command's 24-bit allocation
// length. A larger exponent reads no page.
constexpr int kMaxPageExponent = 23;

// The first model table row (1 to 39) whose text equals `candidate` over at most 3 characters;
// 0 when none does.
uint8_t SearchModelTable(const char* candidate);

// The bridge model code of the disk at `path`: 0 when nothing recognises it, 22 for the QVB886.
// Queries the device anew on every call; may show the "Get chip information fail !" box for a
// bridge of code 8 whose information block does not read back as expected.
uint8_t IdentifyBridge(const char* path);

}  // namespace qvb
