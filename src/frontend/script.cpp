#include "frontend/script.h"

#include <algorithm>
#include <cctype>
#include <iterator>
#include <sstream>

namespace {

bool isNumber(const std::string& s, long maxValue) {
    if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    return std::stol(s) <= maxValue;
}

// Splits a line into words; "quoted words" keep their spaces.
bool splitWords(const std::string& line, std::vector<std::string>& words) {
    size_t i = 0;
    while (i < line.size()) {
        if (line[i] == ' ' || line[i] == '\t' || line[i] == '\r') {
            ++i;
            continue;
        }
        std::string word;
        if (line[i] == '"') {
            size_t end = line.find('"', i + 1);
            if (end == std::string::npos) return false;
            word = line.substr(i + 1, end - i - 1);
            i = end + 1;
        } else {
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r')
                word.push_back(line[i++]);
        }
        words.push_back(word);
    }
    return true;
}

// The optimal string alignment distance: single letters inserted, deleted, replaced, or two
// neighbours swapped.
size_t editDistance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1));
    for (size_t i = 0; i <= a.size(); ++i) d[i][0] = i;
    for (size_t j = 0; j <= b.size(); ++j) d[0][j] = j;
    for (size_t i = 1; i <= a.size(); ++i)
        for (size_t j = 1; j <= b.size(); ++j) {
            const size_t cost = tolower(a[i - 1]) == tolower(b[j - 1]) ? 0 : 1;
            d[i][j] = std::min({d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + cost});
            if (i > 1 && j > 1 && tolower(a[i - 1]) == tolower(b[j - 2]) &&
                tolower(a[i - 2]) == tolower(b[j - 1]))
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
        }
    return d[a.size()][b.size()];
}

const char* const kRoleNames[] = {"Up", "Down", "Left", "Right", "A", "B", "C", "Start"};

}  // namespace

std::string didYouMean(const std::string& word, const std::vector<std::string>& names) {
    const size_t allowed = std::max<size_t>(1, word.size() / 3);
    size_t best = allowed + 1;
    std::string nearest;
    for (const std::string& name : names) {
        const size_t distance = editDistance(word, name);
        if (distance < best) {
            best = distance;
            nearest = name;
        }
    }
    return nearest.empty() ? "" : " (did you mean '" + nearest + "'?)";
}

bool parseKey(const std::string& name, const KeyMap& keys, KeySpec& spec) {
    for (int r = 0; r < 8; ++r)
        if (name == kRoleNames[r]) {
            spec = {r, 0};
            return true;
        }
    for (const auto& [label, code] : keys.named)
        if (name == label) {
            spec = {-1, code};
            return true;
        }
    if (isNumber(name, 255) && std::stol(name) > 0) {
        spec = {-1, static_cast<int>(std::stol(name))};
        return true;
    }
    return false;
}

bool parseAwait(const std::vector<std::string>& args, AwaitSpec& spec, std::string& error) {
    const bool state = args[0] == "background" || args[0] == "foreground";
    spec.files = args[0] == "files";
    spec.foreground = args[0] == "foreground";
    const size_t limitAt = spec.files ? 3 : 1;
    if (spec.files && args.size() >= 3 && args[1].size() > 1 && args[1][0] == '.' &&
        isNumber(args[2], 100000)) {
        spec.extension = args[1];
        spec.count = std::stoul(args[2]);
    } else if (spec.files && args.size() >= 3 && !args[1].empty() && args[1][0] != '.') {
        error = "await files needs the extension with its dot: ." + args[1] + ", not " + args[1];
        return false;
    } else if (!state || args.size() > limitAt + 1) {
        error = "await needs background, foreground or files EXT COUNT, then at most a time limit";
        return false;
    }
    if (args.size() == limitAt + 1) {
        if (!isNumber(args[limitAt], 3600000)) {
            error = "await's time limit is milliseconds, 0 to 3600000";
            return false;
        }
        spec.limitMs = std::stoul(args[limitAt]);
    }
    return true;
}

ScriptVerbs standardVerbs(const KeyMap& keys) {
    auto none = [](const std::vector<std::string>&) { return std::string(); };
    ScriptVerbs verbs;
    verbs["wait"] = {1, 1, [](const std::vector<std::string>& a) {
                         return isNumber(a[0], 3600000) ? ""
                                                        : "wait needs milliseconds, 0 to 3600000";
                     }};
    verbs["key"] = {1, 99, [keys](const std::vector<std::string>& a) {
                        std::string name;
                        for (const std::string& w : a) name += (name.empty() ? "" : " ") + w;
                        KeySpec spec;
                        if (parseKey(name, keys, spec)) return std::string();
                        std::vector<std::string> names(std::begin(kRoleNames),
                                                       std::end(kRoleNames));
                        for (const auto& named : keys.named) names.push_back(named.first);
                        return "unknown key '" + name + "'" + didYouMean(name, names);
                    }};
    verbs["tap"] = {2, 2, [](const std::vector<std::string>& a) {
                        return isNumber(a[0], 32767) && isNumber(a[1], 32767)
                                   ? ""
                                   : "tap needs two pixel coordinates";
                    }};
    verbs["background"] = {0, 0, none};
    verbs["foreground"] = {0, 0, none};
    verbs["screenshot"] = {1, 1, [](const std::vector<std::string>& a) {
                               const std::string& f = a[0];
                               bool ok = f.size() > 4 && f.compare(f.size() - 4, 4, ".png") == 0 &&
                                         f.find("..") == std::string::npos && f[0] != '/';
                               return ok ? ""
                                         : "screenshot needs a relative file name ending in .png";
                           }};
    verbs["await"] = {1, 4, [](const std::vector<std::string>& a) {
                          AwaitSpec spec;
                          std::string error;
                          parseAwait(a, spec, error);
                          return error;
                      }};
    verbs["echo"] = {0, 99, none};
    verbs["quit"] = {0, 0, none};
    return verbs;
}

bool parseScript(const std::string& text, const std::string& origin, const ScriptVerbs& verbs,
                 std::vector<ScriptCommand>& commands, std::string& error) {
    std::istringstream lines(text);
    std::string line;
    int number = 0;
    while (std::getline(lines, line)) {
        ++number;
        size_t hash = line.find('#');
        if (hash != std::string::npos) line.resize(hash);
        std::vector<std::string> words;
        if (!splitWords(line, words)) {
            error = origin + ":" + std::to_string(number) + ": unterminated quote";
            return false;
        }
        if (words.empty()) continue;
        ScriptCommand command{number, words[0], {words.begin() + 1, words.end()}};
        auto verb = verbs.find(command.name);
        std::string problem;
        if (verb == verbs.end()) {
            std::vector<std::string> names;
            for (const auto& known : verbs) names.push_back(known.first);
            problem = "unknown command '" + command.name + "'" + didYouMean(command.name, names);
        } else if (command.args.size() < verb->second.minArgs ||
                   command.args.size() > verb->second.maxArgs) {
            problem = "wrong number of arguments for '" + command.name + "'";
        } else {
            problem = verb->second.check(command.args);
        }
        if (!problem.empty()) {
            error = origin + ":" + std::to_string(number) + ": " + problem;
            return false;
        }
        commands.push_back(std::move(command));
    }
    return true;
}
