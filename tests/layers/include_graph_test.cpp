// The layers of src/ as docs/ARCHITECTURE.md draws them, checked on the #include lines of every
// source file: each folder includes only the folders its layer may use, and no chain of includes
// leads from a folder back to itself. The build's include roots enforce the same order for the
// targets; this check also covers what no target compiles (an unused header) and names the line.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

using Graph = std::map<std::string, std::set<std::string>>;

struct Include {
    std::string from;   // folder of the including file ("main" for src/main.cpp)
    std::string to;     // folder named by the include
    std::string where;  // "camera/device_info.cpp:12"
};

// The application's layers, bottom up: each may include the layers before it, the platform and
// the vector-level selector.
const std::vector<std::string> kApplicationOrder = {"core",  "jpeg", "camera",  "settings",
                                                    "media", "net",  "preview", "app"};

// What every folder may include besides itself.
Graph allowedIncludes() {
    Graph allowed = {
        {"simd", {}},
        {"platform", {}},
        // The simulated handheld implements the platform's Device interface and the external
        // encoder's object (jpeg/image_encoder.h).
        {"sim", {"platform", "jpeg"}},
        {"frontend", {"platform"}},
    };
    std::set<std::string> below = {"platform", "simd"};
    for (const std::string& layer : kApplicationOrder) {
        allowed[layer] = below;
        below.insert(layer);
    }
    std::set<std::string> everything;
    for (const auto& [folder, uses] : allowed) everything.insert(folder);
    allowed["main"] = everything;
    return allowed;
}

std::vector<Include> readIncludes(const fs::path& root) {
    static const std::regex kInclude(R"(^\s*#\s*include\s*"([a-z_0-9]+)/)");
    std::vector<Include> found;
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
        const fs::path& path = entry.path();
        const std::string ext = path.extension().string();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp" && ext != ".c")) continue;
        const fs::path relative = fs::relative(path, root);
        const std::string from =
            relative.has_parent_path() ? relative.begin()->string() : relative.stem().string();
        std::ifstream in(path);
        std::string line;
        for (int number = 1; std::getline(in, line); ++number) {
            std::smatch match;
            if (std::regex_search(line, match, kInclude) && match[1] != from)
                found.push_back({from, match[1], relative.string() + ":" + std::to_string(number)});
        }
    }
    return found;
}

Graph graphOf(const std::vector<Include>& includes) {
    Graph graph;
    for (const Include& include : includes) graph[include.from].insert(include.to);
    return graph;
}

// A chain of folders that leads back to its first one ("a b c a"), or empty when there is none.
std::vector<std::string> findCycle(const Graph& graph) {
    enum Mark { Unseen, OnPath, Done };
    std::map<std::string, Mark> marks;
    std::vector<std::string> path;
    std::vector<std::string> cycle;
    auto visit = [&](auto& self, const std::string& node) -> bool {
        marks[node] = OnPath;
        path.push_back(node);
        if (auto it = graph.find(node); it != graph.end()) {
            for (const std::string& next : it->second) {
                if (marks[next] == OnPath) {
                    cycle.assign(std::find(path.begin(), path.end(), next), path.end());
                    cycle.push_back(next);
                    return true;
                }
                if (marks[next] == Unseen && self(self, next)) return true;
            }
        }
        path.pop_back();
        marks[node] = Done;
        return false;
    };
    for (const auto& [node, next] : graph)
        if (marks[node] == Unseen && visit(visit, node)) return cycle;
    return {};
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const std::string& word : words) text += (text.empty() ? "" : " -> ") + word;
    return text;
}

TEST(IncludeGraph, EveryIncludeGoesDownTheDrawnOrder) {
    const std::vector<Include> includes = readIncludes(LUMO_SOURCE_DIR);
    ASSERT_GT(includes.size(), 100u) << "the sources were not found at " << LUMO_SOURCE_DIR;
    const Graph allowed = allowedIncludes();
    for (const Include& include : includes) {
        const auto layer = allowed.find(include.from);
        ASSERT_NE(layer, allowed.end())
            << include.where << ": folder \"" << include.from << "\" has no place in the layers";
        EXPECT_TRUE(layer->second.count(include.to))
            << include.where << ": " << include.from << " may not include " << include.to;
    }
}

TEST(IncludeGraph, NoFolderReachesItself) {
    EXPECT_EQ(joined(findCycle(graphOf(readIncludes(LUMO_SOURCE_DIR)))), "");
}

// The allowed arrows themselves form no cycle, so following them can never lead back.
TEST(IncludeGraph, TheDrawnOrderHasNoCycle) {
    Graph allowed = allowedIncludes();
    EXPECT_EQ(joined(findCycle(allowed)), "");
}

TEST(IncludeGraph, CyclesAreFoundWhereverTheyClose) {
    const struct {
        Graph graph;
        std::string cycle;
    } cases[] = {
        {{{"a", {"b"}}, {"b", {"c"}}}, ""},
        {{{"a", {"b", "c"}}, {"b", {"c"}}, {"c", {}}}, ""},  // a diamond is no cycle
        {{{"a", {"b"}}, {"b", {"a"}}}, "a -> b -> a"},
        {{{"a", {"b"}}, {"b", {"c"}}, {"c", {"b"}}}, "b -> c -> b"},
        {{{"x", {"a"}}, {"a", {"b"}}, {"b", {"c"}}, {"c", {"a"}}}, "a -> b -> c -> a"},
    };
    for (const auto& c : cases) EXPECT_EQ(joined(findCycle(c.graph)), c.cycle);
}

}  // namespace
