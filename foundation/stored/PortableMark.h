// Internal to the stored forms: the exact-count byte transfers every stored
// value goes through, and marking a FILE whose content cannot be a stored
// value, so that ldFailed (stdio's error indicator) reports it.
#pragma once

#include <cstddef>
#include <cstdio>

class InputStream;
class OutputStream;

void ldMarkBad(FILE* f);

// Writes n bytes; false when the FILE took fewer.
bool putBytes(FILE* f, unsigned char const* b, size_t n);
// Reads exactly n bytes; false (and b zeroed) on a short read.
bool getBytes(FILE* f, unsigned char* b, size_t n);
// Writes n bytes to the stream.
void putBytes(OutputStream& os, unsigned char const* b, int n);
// Reads n bytes from the stream; on a cut-short value zeroes them, sets the
// error bit when some of them had come, and returns false.
bool getBytes(InputStream& is, unsigned char* b, int n);
