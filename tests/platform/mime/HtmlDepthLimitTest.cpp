#include "platform/mime/HtmlDepthLimit.h"

#include <gtest/gtest.h>

namespace {

std::string repeat(const std::string& piece, int count) {
    std::string out;
    for (int i = 0; i < count; ++i)
        out += piece;
    return out;
}

struct LimitCase {
    const char* name;
    std::string html;
    std::string limited; // with a bound of 2
};

class DepthLimit : public testing::TestWithParam<LimitCase> {};

TEST_P(DepthLimit, DropsOnlyWhatNestsTooDeep) {
    EXPECT_EQ(HtmlDepthLimit::limited(GetParam().html, 2), GetParam().limited);
}

INSTANTIATE_TEST_SUITE_P(
    Table, DepthLimit,
    testing::Values(
        LimitCase{"empty", "", ""},
        LimitCase{"within_bound_unchanged", "<div><b>x</b></div><div>y</div>",
                  "<div><b>x</b></div><div>y</div>"},
        LimitCase{"too_deep_dropped_with_its_end_tags",
                  "<div><div><div class=\"c\"><span>x</span></div></div></div>after",
                  "<div><div>x</div></div>after"},
        LimitCase{"implicitly_closed_not_counted", "<ul><li>a<li>b<li>c<li>d</ul>",
                  "<ul><li>a<li>b<li>c<li>d</ul>"},
        LimitCase{"void_and_self_closed_not_counted", "<b><i><br><img src=x><x/>y</i></b>",
                  "<b><i><br><img src=x><x/>y</i></b>"},
        LimitCase{"script_text_not_counted", "<b><i><script>'<div><div>'</script></i></b>",
                  "<b><i><script>'<div><div>'</script></i></b>"},
        LimitCase{"comment_not_counted", "<b><i><!-- <div><div> --></i></b>",
                  "<b><i><!-- <div><div> --></i></b>"},
        LimitCase{"quoted_greater_than_in_attribute", "<a title=\"a>b\"><b><i>x</i></b></a>",
                  "<a title=\"a>b\"><b>x</b></a>"},
        LimitCase{"lone_less_than_is_text", "a < b <3 <", "a < b <3 <"},
        LimitCase{"unterminated_tag_left_alone", "<b><i><u", "<b><i><u"},
        LimitCase{"stray_end_tags_do_not_go_negative", "</x></y><a><b><c>z", "</x></y><a><b>z"}),
    [](const testing::TestParamInfo<LimitCase>& info) { return info.param.name; });

TEST(DepthLimit, DefaultBoundKeepsRealMailUnchanged) {
    std::string tables = repeat("<table><tr><td>", 100) + "x" + repeat("</td></tr></table>", 100);
    EXPECT_EQ(HtmlDepthLimit::limited(tables), tables);
    std::string deep = repeat("<div>", 100000) + "x";
    std::string limited = HtmlDepthLimit::limited(deep);
    EXPECT_EQ(limited, repeat("<div>", HtmlDepthLimit::defaultDepth) + "x");
}

} // namespace
