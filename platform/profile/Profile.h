#pragma once

#include <string>

// The INI profile functions: one "key=value" per line under "[section]" headers.
// Sections and keys match without regard to case (A to Z), blanks around names and
// values are dropped, and a value in a pair of matching single or double quotes
// loses them on reading. Reads are answered from a parsed copy of the file that one
// stat per call keeps current, so reading N keys costs O(N); every thread may call.

// Copies the value of `key` in `section` of `fileName` into `buffer` (`size` bytes,
// always terminated when size > 0) and returns the number of characters copied
// (without the terminating null). A value longer than size - 1 is cut to size - 1
// characters. A missing file, section or key gives `defaultValue` (null: empty)
// without its trailing blanks.
// A null `key` lists the section's key names and a null `section` the file's
// section names instead: each name null-terminated, the list ended by a second null;
// a list that does not fit is cut, its last name ended by two nulls, and size - 2 is
// returned.
unsigned GetPrivateProfileStringA(const char* section, const char* key, const char* defaultValue,
                                  char* buffer, unsigned size, const char* fileName);

// Sets `key` in `section` to `value`; a null `value` deletes the key and a null `key`
// deletes the whole section. The value reads back exactly as given: one with blanks
// at either end or in a pair of quotes is written inside double quotes. The first write
// creates the file; lines nobody changed, comments included, stay as they were. The file
// is replaced atomically under a lock shared with every other writer. Returns false,
// after a debugLog line naming this call, the path and the reason, when the file could
// not be written (it then keeps its old content) or when the names or value cannot be
// stored as given (a line break, "]" in a section name, "=" in a key, a key starting
// with "[" or ";").
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);

// The whole value of `key` in `section` (blanks and quotes dropped as above), never
// cut, or `defaultValue` as given when the file, section or key is missing.
std::string getProfileString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, const std::string& fileName);
