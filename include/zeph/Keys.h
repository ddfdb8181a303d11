// Keys of an index, as index files hold them.
//
// A key part is the field element's bytes as the record buffer holds them
// (text up to its NUL, then zero bytes to the part's length); a non-unique
// index appends the record's number, big-endian, after the key. Keys are
// ordered part by part by storage type: signed integers, dates and times by
// value (big-endian in the buffer), 8-byte doubles and 16-byte numbers by
// value, texts and anything else by unsigned bytes; then the record number.
#pragma once

#include <cstddef>
#include <cstdint>

#include <dbm/DbDescr.h>

extern "C" {
#pragma GCC visibility push(default)

// Writes the key of `record` for index `ip` into `key` (klen bytes, plus 4
// for the record number `recno` of a non-unique index); the bytes written.
int32_t _BuildKey(char* key, s_index const* ip, char const* record, int32_t recno);
// Writes the parts of `key` of `ip` back to their places in `record` (the
// inverse of _BuildKey on the key's bytes); the caller has checked the
// parts with _CheckKey.
void _UnBuildKey(char* record, s_index const* ip, char const* key);
// 1 when the record gives a key for `ip`: every part lies inside the
// record of `reclen` bytes and no part that leaves nulls out of the index
// (part flag 2) is null; 0 otherwise.
int32_t _CheckKey(s_index const* ip, char const* record, int32_t reclen);
// Orders two keys of `ip` (<0, 0, >0), record numbers included for a
// non-unique index.
int32_t _KeyCmp(s_index const* ip, char const* a, char const* b);
// Sets the index and the number of leading parts XKeyCmp compares (0: all
// parts and the record number).
void _SetKeyCmpIp(s_index const* ip);
void _SetKeyParts(int32_t nparts);
// Compares two keys under the index and parts set above.
int32_t XKeyCmp(void const* a, void const* b);
// Binary search in `count` entries of `size` bytes: the index found, or the
// one's complement of the insertion point.
int32_t Locate(void const* key, void const* table, int32_t count, int32_t size,
               int32_t (*cmp)(void const*, void const*));
// The display text of key `key` of `ip` (parts separated by blanks) in
// `out` of `outSize` bytes.
char* _KeyText(s_index const* ip, char const* key, char* out, size_t outSize);
// The field handle of key part `part` (from 0) of index handle `index`; -1
// for a part holding the record number or a part out of range.
int32_t KeyDbField(int32_t index, int32_t part);

#pragma GCC visibility pop
}  // extern "C"
