// messageText per message: what sorting one arrived message and reading a learning
// set cost in text extraction.
#include "util/ComPtr.h"
#include "util/Log.h"
#include "platform/Mime.h"
#include "mail/HtmlText.h"
#include "mail/MessageText.h"

#include <benchmark/benchmark.h>

#include <clocale>
#include <string>

namespace {

std::string plainMessage(std::size_t size) {
    std::string body;
    const std::string line =
        "Dear customer, your order 4711 has been shipped and will arrive on Monday.\n";
    while (body.size() < size)
        body += line;
    return "From: Shop <shop@example.org>\nTo: anna@example.com\nSubject: Your order\n"
           "Date: Tue, 14 Nov 2023 22:13:20 +0000\nMIME-Version: 1.0\n"
           "Content-Type: text/plain; charset=utf-8\nContent-Transfer-Encoding: 8bit\n\n" +
           body;
}

// A newsletter as mail programs send them: an alternative with a plain part and a
// table-laid-out HTML part with styles, links and entities.
std::string htmlMessage(std::size_t size) {
    std::string html = "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>News</title>"
                       "<style>td { font-family: Arial; } .x { color: #333; }</style></head>"
                       "<body><table width=\"600\" cellpadding=\"0\" cellspacing=\"0\">\n";
    const std::string block =
        "<tr><td class=\"x\" style=\"padding:10px\"><h2>Offer of the week</h2>"
        "<p>Save&nbsp;20&nbsp;% on <b>all</b> lamps &amp; lights &ndash; only until "
        "<i>Sunday</i>.</p><p><a href=\"https://shop.example.org/offer?id=4711\">Shop "
        "now</a></p></td><td><img src=\"cid:lamp@example\" alt=\"lamp\"></td></tr>\n";
    while (html.size() < size)
        html += block;
    html += "</table><div style=\"display:none\">preview</div></body></html>\n";
    return "From: News <news@example.org>\nTo: anna@example.com\nSubject: Weekly offer\n"
           "MIME-Version: 1.0\nContent-Type: multipart/alternative; boundary=\"b1\"\n\n"
           "--b1\nContent-Type: text/plain; charset=utf-8\n\nOffer of the week\n"
           "--b1\nContent-Type: text/html; charset=utf-8\n\n" +
           html + "\n--b1--\n";
}

void setUp() {
    static bool done = [] {
        std::setlocale(LC_ALL, "C");
        setLogToStderr(false);
        initMessageAccess();
        return true;
    }();
    (void)done;
}

// Parsing the file's bytes and extracting the text, as for every arrived message.
void parseAndExtract(benchmark::State& state, const std::string& bytes) {
    setUp();
    for (auto _ : state) {
        com_ptr<IMimeMessage> message;
        MimeOleCreateMessage(bytes, {}, message.out());
        benchmark::DoNotOptimize(messageText(message.get()));
    }
    state.SetItemsProcessed(state.iterations());
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

// The extraction alone on a message already parsed.
void extractOnly(benchmark::State& state, const std::string& bytes) {
    setUp();
    com_ptr<IMimeMessage> message;
    MimeOleCreateMessage(bytes, {}, message.out());
    for (auto _ : state)
        benchmark::DoNotOptimize(messageText(message.get()));
    state.SetItemsProcessed(state.iterations());
}

void BM_MessageText_Plain5K(benchmark::State& state) {
    parseAndExtract(state, plainMessage(5 * 1024));
}
void BM_MessageText_Html20K(benchmark::State& state) {
    parseAndExtract(state, htmlMessage(20 * 1024));
}
void BM_MessageText_Html1M(benchmark::State& state) {
    parseAndExtract(state, htmlMessage(1024 * 1024));
}
void BM_MessageTextParsed_Plain5K(benchmark::State& state) {
    extractOnly(state, plainMessage(5 * 1024));
}
void BM_MessageTextParsed_Html20K(benchmark::State& state) {
    extractOnly(state, htmlMessage(20 * 1024));
}

} // namespace

BENCHMARK(BM_MessageText_Plain5K);
BENCHMARK(BM_MessageText_Html20K);
BENCHMARK(BM_MessageText_Html1M)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MessageTextParsed_Plain5K);
BENCHMARK(BM_MessageTextParsed_Html20K);

BENCHMARK_MAIN();
