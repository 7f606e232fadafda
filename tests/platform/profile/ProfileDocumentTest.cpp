#include "platform/profile/ProfileDocument.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace {

std::string lower(std::string text) {
    for (char& c : text)
        c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return text;
}

// Random edits against a plain map: the document, and the document parsed back from
// its text, must answer every lookup as the map does.
TEST(ProfileDocument, RandomEditsMatchAPlainMapAndSurviveTheRoundTrip) {
    unsigned seed = std::random_device{}();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    const char* sections[] = {"Files", "FILES", "NeuronsIn", "settings"};
    ProfileDocument document = ProfileDocument::parse("; kept\n[Files]\nfile_1=_0_\n\n");
    std::map<std::pair<std::string, std::string>, std::string> model{{{"files", "file_1"}, "_0_"}};
    for (int step = 0; step < 20000; ++step) {
        std::string section = sections[random() % 4];
        std::string key = (random() % 2 ? "file_" : "FILE_") + std::to_string(random() % 300);
        auto modelKey = std::make_pair(lower(section), lower(key));
        int operation = static_cast<int>(random() % 100);
        if (operation < 70) {
            std::string value = "_" + std::to_string(step) + "_";
            document.set(section, key, value);
            model[modelKey] = value;
        } else if (operation < 99) {
            document.deleteKey(section, key);
            model.erase(modelKey);
        } else {
            document.deleteSection(section);
            std::erase_if(model,
                          [&](const auto& entry) { return entry.first.first == modelKey.first; });
        }
    }
    ProfileDocument reread = ProfileDocument::parse(document.text());
    EXPECT_EQ(reread.text(), document.text());
    EXPECT_EQ(document.text().rfind("; kept\n", 0), 0u);
    for (const char* section : sections) {
        for (int k = 0; k < 300; ++k) {
            std::string key = "File_" + std::to_string(k);
            auto found = model.find({lower(section), lower(key)});
            std::optional<std::string_view> expected;
            if (found != model.end())
                expected = found->second;
            ASSERT_EQ(document.value(section, key), expected) << section << " " << key;
            ASSERT_EQ(reread.value(section, key), expected) << section << " " << key;
        }
    }
}

} // namespace
