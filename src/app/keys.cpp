#include "app/keys.h"

// The hardware keys an action can be bound to; the value is the key code of the key message.
const ValueEntry kNamedKeyTable[kNamedKeyCount] = {
    {"None", 0},      {"Green", 114},    {"Red", 115},      {"VolUp", 117},    {"VolDown", 118},
    {"Prog1", 193},   {"Prog2", 194},    {"Prog3", 195},    {"Prog4", 196},    {"Star(*)", 119},
    {"Sharp(#)", 120}, {"Back", 27},     {"Digit 0", 48},   {"Digit 1", 49},   {"Digit 2", 50},
    {"Digit 3", 51},  {"Digit 4", 52},   {"Digit 5", 53},   {"Digit 6", 54},   {"Digit 7", 55},
    {"Digit 8", 56},  {"Digit 9", 57},
};
