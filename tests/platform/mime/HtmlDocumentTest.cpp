#include "util/ComPtr.h"
#include "util/Encoding.h"
#include "platform/Html.h"

#include <gtest/gtest.h>

namespace {

com_ptr<IHTMLElement> bodyOf(IHTMLDocument2* document) {
    com_ptr<IHTMLElement> body;
    EXPECT_EQ(document->get_body(body.out()), S_OK);
    return body;
}

com_ptr<IHTMLDocument2> documentWith(const std::string& html) {
    com_ptr<IHTMLDocument2> document;
    EXPECT_EQ(createHtmlDocument(document.out()), S_OK);
    EXPECT_EQ(document->write(utf8ToWide(html)), S_OK);
    EXPECT_EQ(document->close(), S_OK);
    return document;
}

std::string innerText(const std::string& html) {
    com_ptr<IHTMLDocument2> document = documentWith(html);
    com_ptr<IHTMLElement> body = bodyOf(document.get());
    if (!body)
        return "<no body>";
    WideString text;
    EXPECT_EQ(body->get_innerText(&text), S_OK);
    return wideToUtf8(text);
}

std::string innerHtml(const std::string& html) {
    com_ptr<IHTMLDocument2> document = documentWith(html);
    com_ptr<IHTMLElement> body = bodyOf(document.get());
    if (!body)
        return "<no body>";
    WideString text;
    EXPECT_EQ(body->get_innerHTML(&text), S_OK);
    return wideToUtf8(text);
}

struct TextCase {
    const char* name;
    const char* html;
    const char* text;
};

class InnerText : public testing::TestWithParam<TextCase> {};

TEST_P(InnerText, IsWhatABrowserGives) {
    EXPECT_EQ(innerText(GetParam().html), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InnerText,
    testing::Values(
        TextCase{"empty", "", ""}, TextCase{"plain_text", "hello", "hello"},
        TextCase{"white_space_only", " \n\t ", ""},
        TextCase{"runs_of_white_space_collapse", "a   b\t\tc\n\nd", "a b c d"},
        TextCase{"crlf_in_source_is_a_space", "a\r\nb", "a b"},
        TextCase{"edges_trimmed", "  <p>  a  </p>  ", "a"},
        TextCase{"paragraphs_two_line_breaks", "<p>a</p><p>b</p>", "a\r\n\r\nb"},
        TextCase{"unclosed_paragraphs", "<p>a<p>b", "a\r\n\r\nb"},
        TextCase{"divs_one_line_break", "<div>a</div><div>b</div>", "a\r\nb"},
        TextCase{"nested_blocks_one_line_break", "<div><div>a</div></div><div>b</div>", "a\r\nb"},
        TextCase{"paragraph_then_div", "<p>a</p><div>b</div>", "a\r\n\r\nb"},
        TextCase{"inline_text_around_block", "a <div>b</div> c", "a\r\nb\r\nc"},
        TextCase{"spaces_at_block_edges", "<div>a </div> <div> b</div>", "a\r\nb"},
        TextCase{"br", "a<br>b", "a\r\nb"},
        TextCase{"br_drops_spaces_around_it", "a <br> b", "a\r\nb"},
        TextCase{"two_br", "a<br><br>b", "a\r\n\r\nb"}, TextCase{"br_alone", "<br>", "\r\n"},
        TextCase{"spaces_across_inline_tags", "a <b> b </b> c", "a b c"},
        TextCase{"no_space_between_inline_tags", "a<b>b</b>c", "abc"},
        TextCase{"entities_decoded", "&lt;x&gt; &amp; &quot;q&quot; &eacute; &#8364; &euro;",
                 "<x> & \"q\" \xC3\xA9 \xE2\x82\xAC \xE2\x82\xAC"},
        TextCase{"nbsp_not_collapsed", "a&nbsp;&nbsp;b",
                 "a\xC2\xA0\xC2\xA0"
                 "b"},
        TextCase{"script_and_style_hidden", "a<script>var x = 1;</script><style>p{}</style>b",
                 "ab"},
        TextCase{"head_hidden", "<html><head><title>T</title></head><body>x</body></html>", "x"},
        TextCase{"comments_hidden", "a<!-- note -->b", "ab"},
        TextCase{"template_hidden", "a<template>t</template>b", "ab"},
        TextCase{"noscript_hidden", "a<noscript>enable scripts</noscript>b", "ab"},
        TextCase{"display_none_hidden", "a<span style=\"color:red; Display : NONE\">x</span>b",
                 "ab"},
        TextCase{"mso_display_none_shown", "<span style=\"mso-display:none\">x</span>", "x"},
        TextCase{"hidden_attribute", "<div hidden>x</div>y", "y"},
        TextCase{"image_gives_nothing", "a<img alt=\"pic\" src=\"x.png\">b", "ab"},
        TextCase{"pre_keeps_white_space", "<pre>a  b\n  c\tz</pre>", "a  b\r\n  c\tz"},
        TextCase{"pre_first_newline_dropped", "<pre>\nx</pre>", "x"},
        TextCase{"pre_between_text", "x<pre>a\nb</pre>y", "x\r\na\r\nb\r\ny"},
        TextCase{"table_cells_tab_rows_break",
                 "<table><tr><td>a</td><td>b</td></tr><tr><td>c</td><th>d</th></tr></table>",
                 "a\tb\r\nc\td"},
        TextCase{"table_rows_across_sections",
                 "<table><thead><tr><th>h</th></tr></thead><tbody><tr><td>r</td></tr></tbody>"
                 "</table>",
                 "h\r\nr"},
        TextCase{"table_between_text", "x<table><tr><td>a</td></tr></table>y", "x\r\na\r\ny"},
        TextCase{"cell_spaces_trimmed", "<table><tr><td> a </td><td> b </td></tr></table>", "a\tb"},
        TextCase{"list_items", "<ul><li>one</li><li>two</li></ul>", "one\r\ntwo"},
        TextCase{"heading", "<h1>Title</h1>text", "Title\r\ntext"},
        TextCase{"blockquote_and_hr", "<blockquote>q</blockquote>r<hr>s", "q\r\nr\r\ns"},
        TextCase{"text_outside_body_tags", "<html>x</html>", "x"},
        TextCase{"utf8_text",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e",
                 "Gr\xC3\xBC\xC3\x9F"
                 "e"}),
    [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

class InnerHtml : public testing::TestWithParam<TextCase> {};

TEST_P(InnerHtml, SerialisesTheBody) {
    EXPECT_EQ(innerHtml(GetParam().html), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, InnerHtml,
    testing::Values(TextCase{"empty", "", ""},
                    TextCase{"text_escaped", "<p class=\"x\">a &amp; b &lt; c &gt; d</p>",
                             "<p class=\"x\">a &amp; b &lt; c &gt; d</p>"},
                    TextCase{"nbsp_named", "a&nbsp;b", "a&nbsp;b"},
                    TextCase{"void_elements_not_closed", "a<br>b<img src=\"i.png\"><hr>",
                             "a<br>b<img src=\"i.png\"><hr>"},
                    TextCase{"implicit_ends_written", "<p>a<p>b", "<p>a</p><p>b</p>"},
                    TextCase{"script_raw", "x<script>if (a < b && c) x();</script>",
                             "x<script>if (a < b && c) x();</script>"},
                    TextCase{"comment_kept", "a<!-- c -->b", "a<!-- c -->b"},
                    TextCase{"attribute_quotes_escaped", "<a title='say \"hi\" & <go>'>x</a>",
                             "<a title=\"say &quot;hi&quot; &amp; <go>\">x</a>"},
                    TextCase{"unknown_tag_lower_case", "<Custom-Tag>x</Custom-Tag>",
                             "<custom-tag>x</custom-tag>"},
                    TextCase{"head_not_part_of_body",
                             "<head><title>t</title></head><body><b>x</b></body>", "<b>x</b>"}),
    [](const testing::TestParamInfo<TextCase>& info) { return info.param.name; });

TEST(HtmlDocument, WritesCollectUntilClose) {
    com_ptr<IHTMLDocument2> document;
    ASSERT_EQ(createHtmlDocument(document.out()), S_OK);
    com_ptr<IHTMLElement> body;
    EXPECT_EQ(document->get_body(body.out()), E_FAIL); // nothing parsed yet
    document->write(u"<p>a");
    document->write(u"b</p>");
    document->close();
    body = bodyOf(document.get());
    WideString text;
    body->get_innerText(&text);
    EXPECT_EQ(text, u"ab");
}

TEST(HtmlDocument, WriteAfterCloseStartsANewDocumentAndOldElementsStayValid) {
    com_ptr<IHTMLDocument2> document = documentWith("<p>first</p>");
    com_ptr<IHTMLElement> first = bodyOf(document.get());
    document->write(u"");
    document->close();
    WideString text;
    bodyOf(document.get())->get_innerText(&text);
    EXPECT_EQ(text, u"");
    document->write(u"second");
    document->close();
    bodyOf(document.get())->get_innerText(&text);
    EXPECT_EQ(text, u"second");
    first->get_innerText(&text);
    EXPECT_EQ(text, u"first");
}

TEST(HtmlDocument, FramesetDocumentAnswersItsFrameset) {
    EXPECT_EQ(innerText("<html><frameset><frame src=\"a.html\"><noframes>old browser"
                        "</noframes></frameset></html>"),
              "");
}

TEST(HtmlDocument, DeepNestingNeitherRecursesNorCrashes) {
    std::string html;
    for (int i = 0; i < 100000; ++i)
        html += "<div>";
    html += "deep";
    EXPECT_EQ(innerText(html), "deep");
    std::string serialised = innerHtml(html);
    EXPECT_NE(serialised.find("<div><div>deep</div></div>"), std::string::npos);
}

TEST(HtmlDocument, BrokenMarkupStillGivesText) {
    // "d" is moved before the table; the stray </p> makes an empty paragraph.
    EXPECT_EQ(innerText("<b><i>a</b>b</i><table><td>c<tr>d</table></x></p>e<"),
              "abd\r\nc\r\n\r\n\r\ne<");
    EXPECT_EQ(innerText(std::string("a\0b", 3)), "ab"); // NUL in text is dropped
}

} // namespace
