#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>

namespace {

// What readelf says of the installed-to-be program: its dynamic section and symbols.
std::string readelf(const std::string& options) {
    std::string command = "readelf -W " + options + " " BREVALO_BIN_DIR "/brevalo-cli";
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe))
            text.append(buffer, n);
        EXPECT_EQ(pclose(pipe), 0) << command;
    }
    return text;
}

} // namespace

// A mail transfer agent starts the tool once per message: linked statically it must load no
// shared library but the C library's, whose symbol lookups were most of a start, and export
// no symbol of the archives, which the picture module's Qt would bind to instead of its own
// shared GLib and C++ runtime.
TEST(CliLink, LoadsOnlyTheCLibraryAndExportsNothingOfItsOwn) {
    if (!BREVALO_CLI_STATIC)
        GTEST_SKIP() << "brevalo-cli links the shared libraries in this build";
    std::set<std::string> needed;
    std::string dynamic = readelf("--dynamic");
    std::regex library(R"(\(NEEDED\)\s+Shared library: \[([^\]]+)\])");
    for (std::sregex_iterator it(dynamic.begin(), dynamic.end(), library), end; it != end; ++it)
        needed.insert((*it)[1]);
    EXPECT_FALSE(needed.empty()) << dynamic;
    for (const std::string& name : needed)
        EXPECT_TRUE(name.rfind("libc.so", 0) == 0 || name.rfind("libm.so", 0) == 0 ||
                    name.rfind("ld-linux", 0) == 0)
            << "brevalo-cli loads " << name;

    // Defined dynamic symbols: only the C library's data the program copies (stdout, ...),
    // and the allocation functions, which are the whole process's by design.
    const std::set<std::string> allocator{"malloc",        "free",           "calloc",
                                          "realloc",       "reallocarray",   "memalign",
                                          "aligned_alloc", "posix_memalign", "malloc_usable_size"};
    std::string symbols = readelf("--dyn-syms");
    std::regex defined(R"(\s(GLOBAL|WEAK)\s+DEFAULT\s+\d+\s+(\S+))");
    for (std::sregex_iterator it(symbols.begin(), symbols.end(), defined), end; it != end; ++it)
        EXPECT_TRUE((*it)[2].str().find("@GLIBC_") != std::string::npos ||
                    allocator.count((*it)[2]))
            << "brevalo-cli exports " << (*it)[2];
}
