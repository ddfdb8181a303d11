// Internal to the stored forms: marking a FILE whose content cannot be a
// stored value, so that ldFailed (stdio's error indicator) reports it.
#pragma once

#include <cstdio>

void ldMarkBad(FILE* f);
