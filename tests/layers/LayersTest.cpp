// The layers point one way: each top folder is one library that includes and links only
// the layers below it, and the layers under the windows use no Qt, nor does the
// command-line tool (started once per delivered message; it loads picture/'s module to
// draw). Read from the sources' include lines and from what CMake links (layer-links.txt,
// written at configure time).

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct Layer {
    const char* name;            // the top folder
    const char* targets;         // what it builds, separated by blanks
    std::set<std::string> below; // the layers it may use
    bool qt;                     // whether it may use Qt
};

void PrintTo(const Layer& layer, std::ostream* out) {
    *out << layer.name;
}

// Lowest first; a layer may use those named in its row, never one above it.
const std::vector<Layer>& layers() {
    static const std::vector<Layer> table = {
        {"util", "brevalo_util", {}, false},
        {"platform", "brevalo_platform", {"util"}, false},
        {"core", "brevalo_core", {"util", "platform"}, false},
        {"mail", "brevalo_mail", {"util", "platform", "core"}, false},
        {"sorting", "brevalo_sorting", {"util", "platform", "core", "mail"}, false},
        {"learning", "brevalo_learning", {"util", "platform", "core"}, true},
        {"picture", "brevalo_picture", {"util", "platform", "core", "learning"}, true},
        {"cli", "brevalo-cli", {"util", "platform", "core", "mail", "sorting"}, false},
        {"editor", "brevalo_editor", {"util", "platform", "core", "mail", "learning"}, true},
        {"shell",
         "brevalo_shell brevalo",
         {"util", "platform", "core", "mail", "sorting", "learning", "editor"},
         true},
    };
    return table;
}

int rankOf(const std::string& layer) {
    for (std::size_t i = 0; i < layers().size(); ++i) {
        if (layers()[i].name == layer)
            return static_cast<int>(i);
    }
    return -1;
}

// The layer a library belongs to: brevalo_<layer>, the programs by name, and the names
// the platform's components had as libraries of their own.
std::string layerOfTarget(const std::string& target) {
    static const std::map<std::string, std::string> named = {
        {"brevalo-cli", "cli"},
        {"brevalo", "shell"},
        {"brevalo_platform_base", "platform"},
        {"brevalo_profile", "platform"},
        {"brevalo_store", "platform"},
        {"brevalo_mime", "platform"},
        {"brevalo_send", "platform"},
        {"brevalo_lock", "platform"},
    };
    auto found = named.find(target);
    if (found != named.end())
        return found->second;
    const std::string prefix = "brevalo_";
    if (target.rfind(prefix, 0) == 0 && rankOf(target.substr(prefix.size())) >= 0)
        return target.substr(prefix.size());
    return {};
}

// Every target's direct links, from layer-links.txt ("target=a;b;c").
std::map<std::string, std::vector<std::string>> linkGraph() {
    std::map<std::string, std::vector<std::string>> graph;
    std::ifstream in(BREVALO_LAYER_LINKS);
    std::string line;
    while (std::getline(in, line)) {
        std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        std::vector<std::string>& links = graph[line.substr(0, equals)];
        std::stringstream list(line.substr(equals + 1));
        std::string item;
        while (std::getline(list, item, ';'))
            links.push_back(item);
    }
    return graph;
}

// Everything a target links, directly or through other layers.
std::set<std::string> linkedTargets(const std::string& target) {
    static const std::map<std::string, std::vector<std::string>> graph = linkGraph();
    std::set<std::string> reached;
    std::vector<std::string> todo = {target};
    std::set<std::string> seen;
    while (!todo.empty()) {
        std::string next = todo.back();
        todo.pop_back();
        if (!seen.insert(next).second)
            continue;
        auto found = graph.find(next);
        if (found == graph.end())
            continue;
        for (const std::string& link : found->second) {
            reached.insert(link);
            // An alias names brevalo_platform, whose links are listed under that name.
            todo.push_back(layerOfTarget(link) == "platform" ? "brevalo_platform" : link);
        }
    }
    return reached;
}

std::set<std::string> linkedLayers(const std::string& target) {
    std::set<std::string> layers;
    for (const std::string& link : linkedTargets(target)) {
        std::string layer = layerOfTarget(link);
        if (!layer.empty())
            layers.insert(layer);
    }
    return layers;
}

std::vector<fs::path> sourcesOf(const std::string& layer) {
    std::vector<fs::path> files;
    for (const fs::directory_entry& entry :
         fs::recursive_directory_iterator(fs::path(BREVALO_SOURCE_DIR) / layer)) {
        std::string extension = entry.path().extension().string();
        if (entry.is_regular_file() && (extension == ".cpp" || extension == ".h"))
            files.push_back(entry.path());
    }
    return files;
}

std::vector<std::string> includesOf(const fs::path& file) {
    std::vector<std::string> includes;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("#include ", 0) == 0)
            includes.push_back(line.substr(9));
    }
    return includes;
}

// The layer a quoted include names ("core/Net.h": core); empty for anything else.
std::string layerOfInclude(const std::string& include) {
    static const std::regex quoted("\"([a-z]+)/.*\"");
    std::smatch match;
    if (!std::regex_match(include, match, quoted) || rankOf(match[1]) < 0)
        return {};
    return match[1];
}

class Layers : public testing::TestWithParam<Layer> {};

TEST_P(Layers, IncludeOnlyTheLayersBelow) {
    const Layer& layer = GetParam();
    std::size_t checked = 0;
    for (const fs::path& file : sourcesOf(layer.name)) {
        for (const std::string& include : includesOf(file)) {
            ++checked;
            std::string used = layerOfInclude(include);
            if (!used.empty() && used != layer.name) {
                EXPECT_TRUE(layer.below.count(used)) << file << " includes " << include;
            }
            if (!layer.qt) {
                EXPECT_NE(include.rfind("<Q", 0), 0u) << file << " includes " << include;
            }
        }
    }
    EXPECT_GT(checked, 0u);
}

// A .cpp includes its own header first, then our layers lowest first, then Qt, then the
// system's headers; a header the same without its own.
TEST_P(Layers, IncludeLowerLayersFirst) {
    const Layer& layer = GetParam();
    for (const fs::path& file : sourcesOf(layer.name)) {
        std::vector<std::string> includes = includesOf(file);
        fs::path ownHeader = fs::path(file).replace_extension(".h");
        std::string own = "\"" + fs::relative(ownHeader, BREVALO_SOURCE_DIR).string() + "\"";
        std::size_t start = 0;
        if (file.extension() == ".cpp" && fs::exists(ownHeader)) {
            ASSERT_FALSE(includes.empty()) << file;
            EXPECT_EQ(includes[0], own) << file;
            start = 1;
        }
        int lastRank = -1;
        int stage = 0; // 0 ours, 1 Qt, 2 system
        for (std::size_t i = start; i < includes.size(); ++i) {
            const std::string& include = includes[i];
            std::string used = layerOfInclude(include);
            if (!used.empty()) {
                EXPECT_EQ(stage, 0) << file << ": " << include << " after Qt or system headers";
                EXPECT_GE(rankOf(used), lastRank) << file << ": " << include << " out of order";
                lastRank = std::max(lastRank, rankOf(used));
            } else if (include.rfind("<Q", 0) == 0) {
                EXPECT_LE(stage, 1) << file << ": " << include << " after system headers";
                stage = std::max(stage, 1);
            } else if (include.rfind("<", 0) == 0) {
                stage = 2;
            }
        }
    }
}

TEST_P(Layers, LinkOnlyTheLayersBelow) {
    const Layer& layer = GetParam();
    std::stringstream targets(layer.targets);
    std::string target;
    while (targets >> target) {
        for (const std::string& used : linkedLayers(target)) {
            if (used != layer.name) {
                EXPECT_TRUE(layer.below.count(used)) << target << " links the layer " << used;
            }
        }
    }
}

// Qt comes in through a link of its own (Qt6::Gui) or one of a layer that uses it.
TEST_P(Layers, LinkQtOnlyWhereAllowed) {
    const Layer& layer = GetParam();
    if (layer.qt)
        return;
    std::stringstream targets(layer.targets);
    std::string target;
    while (targets >> target) {
        for (const std::string& link : linkedTargets(target))
            EXPECT_EQ(link.find("Qt"), std::string::npos) << target << " links " << link;
    }
}

INSTANTIATE_TEST_SUITE_P(Each, Layers, testing::ValuesIn(layers()),
                         [](const testing::TestParamInfo<Layer>& info) {
                             return std::string(info.param.name);
                         });

// Every top folder of the layers builds one library (or one program) at most, in all its
// CMakeLists.txt together.
TEST(LayerFolders, EachBuildsOneLibrary) {
    for (const Layer& layer : layers()) {
        int libraries = 0;
        for (const fs::directory_entry& entry :
             fs::recursive_directory_iterator(fs::path(BREVALO_SOURCE_DIR) / layer.name)) {
            if (entry.path().filename() != "CMakeLists.txt")
                continue;
            std::ifstream cmake(entry.path());
            std::stringstream text;
            text << cmake.rdbuf();
            std::string content = text.str();
            for (std::size_t at = content.find("add_library("); at != std::string::npos;
                 at = content.find("add_library(", at + 1)) {
                // The platform's former component names are aliases, not libraries.
                std::size_t end = content.find(')', at);
                if (content.substr(at, end - at).find("ALIAS") == std::string::npos)
                    ++libraries;
            }
        }
        EXPECT_LE(libraries, 1) << layer.name;
    }
}

} // namespace
