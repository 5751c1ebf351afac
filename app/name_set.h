// The names a run has given out (data files, or atlas animations: one kind a run), to find a
// second strip that would take one again.
#pragma once

#include <cstdint>

// Forgets every name.
void NameSetClear();

// True when the name was added before.
bool NameSetHas(const char *name, bool anyCase);

// Adds the name; false when it was there already (or memory runs out). With `anyCase` names
// that differ only in letter case are the same, as file names are on Windows.
bool NameSetAdd(const char *name, bool anyCase);
