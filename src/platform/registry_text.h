// The registry store's text form and its reader, apart from the file handling so that a fuzz
// target can drive the reader. The form: a first line "lumovatrix-registry 1", then one line per
// key ("key HEXNAME") and per value of the key above it ("value TYPE HEXNAME HEXDATA"; "-" for
// no bytes). Lines may end in CR LF and trailing blanks; every line ends in LF, so a last line
// without one was cut off and is skipped.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/types.h"

struct RegistryValue {
    std::string name;  // as first written
    DWORD type = 0;
    std::vector<BYTE> data;
};

struct RegistryKey {
    std::string name;                             // full path as first written
    std::map<std::string, RegistryValue> values;  // by lower-case name
};

// By lower-case full path ("hklm\software\quorvale\lumovatrix"); names compare without case.
using RegistryStore = std::map<std::string, RegistryKey>;

struct RegistryReadResult {
    bool recognised = false;            // the first line names the form (or the text is empty)
    uint32_t badLines = 0;              // lines skipped
    std::vector<std::string> problems;  // one per skipped line, at most kMaxRegistryProblems
};
constexpr uint32_t kMaxRegistryProblems = 8;

// Reads `text` into `store` line by line: a line that cannot be read is skipped and every other
// key and value is kept. Never throws; reads only inside `text`.
RegistryReadResult readRegistryText(const std::string& text, RegistryStore& store);
