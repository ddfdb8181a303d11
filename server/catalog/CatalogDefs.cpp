// The column tables of the six catalog tables and the checks of their values.
#include <svcatalog/CatalogDefs.h>

#include <svcatalog/SvField.h>
#include <svcatalog/SvTabRep.h>
#include <zfound/Exception.h>
#include <zfound/ObjectId.h>

namespace svcatalog {
namespace {

using K = ColKind;

constexpr ColumnDef kClass[] = {
    {"name", K::Str, 16}, {"file", K::Str, 64}, {"descr", K::Str, 64}, {"flags", K::Num, 3},
    {"len", K::Num, 5},   {"size", K::Num, 9},  {"relcheck", K::Str, 256},
};
constexpr ColumnDef kMember[] = {
    {"class", K::Oid, 0},     {"fldnum", K::Num, 3},    {"name", K::Str, 16},     {"descr", K::Str, 64},
    {"dim", K::Num, 3},       {"type", K::Num, 3},      {"sqltype", K::Num, 3},   {"flags", K::Num, 3},
    {"len", K::Num, 2},       {"ndec", K::Num, 2},      {"mask", K::Str, 128},    {"relcheck", K::Str, 128},
    {"integtype", K::Num, 3}, {"integneg", K::Num, 1},  {"integind", K::Oid, 0},  {"deflt", K::Str, 128},
    {"collset", K::Str, 16},  {"objRef", K::Oid, 0},    {"enunname", K::Str, 64},
};
constexpr ColumnDef kMIndex[] = {
    {"class", K::Oid, 0}, {"indnum", K::Num, 3}, {"name", K::Str, 16},   {"file", K::Str, 16},
    {"flags", K::Num, 3}, {"len", K::Num, 5},    {"nfields", K::Num, 3},
};
constexpr ColumnDef kMIMembr[] = {
    {"index", K::Oid, 0}, {"indfldnum", K::Num, 3}, {"member", K::Oid, 0},
    {"flags", K::Num, 3}, {"len", K::Num, 5},       {"offset", K::Num, 3},
};
constexpr ColumnDef kPrivg[] = {
    {"class", K::Oid, 0}, {"fldprivnum", K::Num, 3}, {"id", K::Num, 5}, {"idtype", K::Num, 4}, {"priv", K::Num, 4},
};
constexpr ColumnDef kIntegr[] = {
    {"member", K::Oid, 0}, {"fldinnum", K::Num, 3}, {"type", K::Num, 1}, {"value", K::Str, 64},
};

template <size_t N>
constexpr int32_t count(ColumnDef const (&)[N]) {
  return int32_t(N);
}

CatalogDef const kDefs[kNCatalogs] = {
    {"$class", "$class.tab", "name", nullptr, 6, count(kClass), kClass},
    {"$member", "$member.tab", "iid", "table", 17, count(kMember), kMember},
    {"$mindex", "$mindex.tab", "iid", "table", 7, count(kMIndex), kMIndex},
    {"$mimembr", "$mimembr.tab", "iid", "index", 6, count(kMIMembr), kMIMembr},
    {"$privg", "$privg.tab", "iid", "table", 5, count(kPrivg), kPrivg},
    {"$integr", "$integr.tab", "iid", "field", 4, count(kIntegr), kIntegr},
};

String columnName(Cat c, int32_t col) {
  CatalogDef const& d = catalogDef(c);
  return String(d.file) + "." + (col >= 0 && col < d.nColumns ? d.columns[col].name : "?");
}

}  // namespace

CatalogDef const& catalogDef(Cat c) { return kDefs[int32_t(c)]; }

bool buildCatalogColumns(SvTabRep* t, Cat c) {
  CatalogDef const& d = catalogDef(c);
  for (int32_t i = 0; i < d.nColumns; ++i) {
    ColumnDef const& col = d.columns[i];
    int32_t type = SvField::STRING, sql = 0;
    if (col.kind == K::Num) {
      type = SvField::NUM;
      sql = 3;
    } else if (col.kind == K::Oid) {
      type = SvField::OBJECT;
    }
    if (SvField::mkField(t, 0, String(col.name), String(), nullptr, String(), col.length, 0, type, sql, 0, 1,
                         nullptr, nullptr, nullptr, ObjectId(), String()) == nullptr)
      return false;
  }
  return true;
}

int32_t numColumnLimit(int32_t digits) {
  int32_t const units = (digits + 3) / 4;
  if (units >= 3) return INT32_MAX;
  return units == 2 ? 99999999 : 9999;
}

bool columnFits(Cat c, int32_t col, int32_t value) {
  CatalogDef const& d = catalogDef(c);
  if (col < 0 || col >= d.nColumns || d.columns[col].kind != K::Num) {
    keepFirstError(InvalidData(columnName(c, col) + " is not a number column"));
    return false;
  }
  int32_t const lim = numColumnLimit(d.columns[col].length);
  if (value >= -lim && value <= lim) return true;
  keepFirstError(InvalidData(columnName(c, col) + " cannot hold " + toString(value)));
  return false;
}

bool columnFits(Cat c, int32_t col, String const& value) {
  CatalogDef const& d = catalogDef(c);
  if (col < 0 || col >= d.nColumns || d.columns[col].kind != K::Str) {
    keepFirstError(InvalidData(columnName(c, col) + " is not a text column"));
    return false;
  }
  long const n = value.isNull() || value.isHighest() ? 0 : value.length();
  if (n <= d.columns[col].length) return true;
  keepFirstError(InvalidData(columnName(c, col) + " holds at most " + toString(d.columns[col].length) +
                             " characters"));
  return false;
}

bool tableRowFits(String const& table, int32_t recLength, int32_t flags) {
  if (recLength >= 0 && flags >= 0 && flags <= 15) return true;
  keepFirstError(InvalidData(String("table '") + table + "' record length " + toString(recLength) + " flags " +
                             toString(flags) + " cannot be stored"));
  return false;
}

}  // namespace svcatalog
