// Device scripts for the headless front-end: one command per line, '#' starts a comment.
//   wait MS              let MS milliseconds pass
//   key NAME             press and release a key: Up, Down, Left, Right, A, B, C, Start (the
//                        program's active key list), a named key ("Prog3", "Digit 0"), or a code
//   tap X Y              touch the screen at pixel (X, Y)
//   background           another program takes the screen
//   foreground           the program comes back to the front
//   screenshot FILE      save the display as a PNG in the screenshot folder, once the program
//                        has handled the keys, taps and foreground changes before it and, if
//                        there were any since the last screenshot, drawn their effect
//   await background|foreground [MS]
//                        wait until the program has gone to the background or come back
//   await files EXT N [MS]
//                        wait until the device holds at least N files ending in EXT (".jpg")
//                        outside its Windows folder; either await first lets the program handle
//                        what was queued before it, and fails the script after MS milliseconds
//                        (default 30000)
// The script starts once the program has started (its queue has been handled once).
//   echo TEXT            print TEXT
//   quit                 close the program
// Further commands can be added by the program that runs the script.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

struct ScriptCommand {
    int line;
    std::string name;
    std::vector<std::string> args;
};

struct ScriptVerb {
    size_t minArgs;
    size_t maxArgs;
    // Checks the arguments when the script is read; returns an error text or "".
    std::function<std::string(const std::vector<std::string>&)> check = nullptr;
    // Runs a verb added by the program running the script (the standard verbs are run by the
    // front-end itself); returns an error text or "".
    std::function<std::string(const std::vector<std::string>&)> run = nullptr;
};

using ScriptVerbs = std::map<std::string, ScriptVerb>;

// How scripts name keys: the roles of the program's active key list (Up, Down, Left, Right, A,
// B, C, Start), the device's named keys, or a key code.
struct KeyMap {
    std::vector<std::pair<std::string, int>> named;  // e.g. {"Prog3", 195}
    // The code of an active-list role (0 Up ... 7 Start); called on the window thread.
    std::function<int(int role)> activeKey;
};

struct KeySpec {
    int role = -1;  // 0 to 7: a role of the active list, resolved when pressed
    int code = 0;   // otherwise the key code
};

// False when `name` is no key.
bool parseKey(const std::string& name, const KeyMap& keys, KeySpec& spec);

// How long an `await` waits by default, in ms: far longer than anything the program does takes,
// even on a loaded machine, so that a script that awaits runs the same under any load.
constexpr unsigned long kAwaitDefaultMs = 30000;

// An `await` command's arguments, read once for the check when the script is read and for the
// run.
struct AwaitSpec {
    bool files = false;       // files EXT N; otherwise background or foreground
    bool foreground = false;  // await foreground
    std::string extension;    // ".jpg"
    unsigned long count = 0;  // files wanted
    unsigned long limitMs = kAwaitDefaultMs;
};

// False with `error` set when `args` are no `await` arguments.
bool parseAwait(const std::vector<std::string>& args, AwaitSpec& spec, std::string& error);

// For an unknown word: " (did you mean 'NAME'?)" with the name of `names` nearest to `word`
// (letters compared without case, at most a third of them wrong, missing, extra or swapped), or
// "" when none is that near.
std::string didYouMean(const std::string& word, const std::vector<std::string>& names);

// The verbs every script knows.
ScriptVerbs standardVerbs(const KeyMap& keys);

// Reads a script. On an error, returns false with `error` naming the origin and line.
bool parseScript(const std::string& text, const std::string& origin, const ScriptVerbs& verbs,
                 std::vector<ScriptCommand>& commands, std::string& error);
