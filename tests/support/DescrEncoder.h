// Test-side encoder of local schema descriptor files ("<schema>.sco"),
// written from the file format's tables, independent of the library's
// reader and writer: a schema is described by a small table of tables,
// fields and indexes and encoded byte by byte.
#pragma once

#include "TestSupport.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zftest {

using Bytes = std::vector<uint8_t>;
using Text = std::optional<std::string>;  // nullopt: stored as offset -1

struct EncField {
  Text name;
  Text descr;
  uint16_t dim = 0, offset = 4, type = 0, itype = 0, attr = 0, flags = 0, len = 0;
  uint8_t dec = 0;
  Text mask;
  Bytes deflt, incheck, check;  // stored forms; empty: none
  Text inctext;
};

struct EncPart {
  uint16_t itype = 0, flags = 0;
  uint8_t len = 0, spare = 0;
  uint16_t offset = 0;
  int32_t field = 0;  // table slot << 8 | field number + 1
};

struct EncIndex {
  Text name;
  uint16_t flags = 1, klen = 0, node = 1024;
  std::vector<EncPart> parts;
};

struct EncTable {
  bool present = true;  // false: an empty slot
  std::string name;
  Text descr;
  uint16_t flags = 0, len = 4;
  int32_t size = 1024;
  std::vector<int32_t> longs;
  Bytes check;
  std::vector<EncField> fields;
  std::vector<EncIndex> indexes;
};

struct EncEnum {
  std::string name;
  std::vector<std::pair<std::string, int32_t>> items;
};

struct EncSchema {
  std::string name;
  Text descr;
  uint16_t magic = 395, version = 24349, lockuid = 0;
  std::vector<int32_t> longs;
  std::vector<EncEnum> enums;
  std::vector<EncTable> tables;  // slots 1, 2, ... in order
  bool patternUnlisted = false;  // fill the header's unlisted bytes with a pattern
};

// The descriptor image of `s`.
Bytes encodeDescriptor(EncSchema const& s);
// Writes it as <dir>/<name>/<name>.sco (creating the schema directory);
// returns the file's path.
std::string writeDescriptorFile(std::string const& dir, EncSchema const& s);
// Stored forms: a compiled expression, and a value check allowing `values`.
Bytes exprBytes(char const* source);
Bytes inListBytes(std::vector<std::string> const& values);
// A reference check through the index with object id (0, `index`).
Bytes integrityBytes(uint32_t index);
// A privilege entry as the arrays of longs hold it (type 0 group, 1 user,
// 2 everyone).
int32_t privEntry(uint16_t id, uint16_t type, uint16_t priv);
// A schema of every kind the format holds: enumerations, three tables (the
// middle one deleted), every field type, two indexes, patterned header bytes.
EncSchema sampleSchema(std::string const& name);

// Starts up and writes sampleSchema(name) into dir; dir.
std::string const& prepareSampleSchema(std::string const& dir, std::string const& name);

}  // namespace zftest
