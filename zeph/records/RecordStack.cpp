// The record stack of table slots, record checks before a write and the
// initial values of fields, for the database libraries.
#include <zeph/Dict.h>
#include <zeph/Records.h>

#include <zfound/MsgTable.h>
#include <zfound/Num.h>
#include <zfound/Portable.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

namespace {

// Saved records per table handle (schema and table slot), last on top.
std::map<int32_t, std::vector<std::vector<char>>>& stacks() {
  static std::map<int32_t, std::vector<std::vector<char>>> s;
  return s;
}

}  // namespace

int32_t _PushRecord(int32_t table, char const* record, int32_t len) {
  if (!record || len < 0) return -1;
  stacks()[table & 0xffff00].emplace_back(record, record + len);
  return 0;
}

int32_t _PopRecord(int32_t table, char* record, int32_t len) {
  auto it = stacks().find(table & 0xffff00);
  if (it == stacks().end() || it->second.empty()) return 0;
  std::vector<char>& top = it->second.back();
  if (record && len > 0) std::memcpy(record, top.data(), std::min(top.size(), size_t(len)));
  it->second.pop_back();
  return 1;
}

void _ForgetRecordStack(int32_t table) { stacks().erase(table & 0xffff00); }

int32_t _CheckRecord(int32_t table, char const* record, char* field, size_t fieldSize) {
  s_table* t = _GetTabPtr(table & 0xffff00);
  if (!t || !record) return 0;
  for (int32_t i = 0; i < t->d.nfields; ++i) {
    s_field const* f = &t->fields[i];
    // Stamp fields are filled by the server; a not-null field must hold a value.
    if ((f->d.flags & 1) && !(f->d.flags & 0x1c0) && _IsNull(f, record, 0)) {
      if (field && fieldSize) std::snprintf(field, fieldSize, "%s", f->d.name ? f->d.name : "");
      return 1;
    }
  }
  return 0;
}

char const* _detailMsg(int32_t code) {
  char key[16];
  std::snprintf(key, sizeof key, "(D%d)", int(code));
  return __DbErrmsg(key);
}

void _InitDbField(s_field const* fld, char* record, int32_t elem) {
  char* p = _FldAddr(fld, record, elem);
  if (!p) return;
  switch (fld->d.f_itype) {
    case DB_IT_BYTE: p[0] = char(0x80); break;
    case DB_IT_SHORT: case DB_IT_DATE: stshort(int16_t(0x8000), p); break;
    case DB_IT_LONG: stlong(int32_t(0x80000000u), p); break;
    case DB_IT_DOUBLE: case DB_IT_FLOAT: stdbl(-1e50, p); break;
    case DB_IT_NUM: {
      Num null;
      stnum(&null, p);
      break;
    }
    default: std::memset(p, 0, size_t(dbElemSize(fld->d.f_itype, fld->d.len))); break;
  }
}
