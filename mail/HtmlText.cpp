#include "mail/HtmlText.h"

#include "util/ComException.h"
#include "util/ComPtr.h"
#include "util/Log.h"
#include "platform/Html.h"

#include <atomic>
#include <thread>

namespace {

// Written once at start-up before any other thread exists; read by every thread.
std::atomic<std::thread::id> initialisingThread{};
// Only the initialising thread touches it, so it needs no lock.
com_ptr<IHTMLDocument2> sharedDocument;

com_ptr<IHTMLDocument2> newDocument() {
    com_ptr<IHTMLDocument2> document;
    checkHr(createHtmlDocument(document.out()), "CoCreateInstance error");
    return document;
}

com_ptr<IHTMLDocument2> pickDocument() {
    if (std::this_thread::get_id() != initialisingThread.load()) {
        com_ptr<IHTMLDocument2> document = newDocument();
        debugLog("NON shared HTML document created");
        return document;
    }
    if (!sharedDocument) {
        sharedDocument = newDocument();
        debugLog("shared HTML document created");
    }
    return sharedDocument;
}

// Empties the document after use, also when reading it failed, so the shared one does
// not keep a large message's tree alive.
class DocumentReset {
public:
    explicit DocumentReset(IHTMLDocument2* document) : document(document) {}
    ~DocumentReset() {
        document->write(WideString());
        document->close();
    }
    DocumentReset(const DocumentReset&) = delete;
    DocumentReset& operator=(const DocumentReset&) = delete;

private:
    IHTMLDocument2* document;
};

} // namespace

void initMessageAccess() {
    initialisingThread.store(std::this_thread::get_id());
}

void finalizeMessageAccess() {
    if (std::this_thread::get_id() == initialisingThread.load())
        sharedDocument.reset();
}

WideString htmlToText(const WideString& html, bool keepMarkup) {
    com_ptr<IHTMLDocument2> document = pickDocument();
    DocumentReset reset(document.get());
    document->write(html);
    document->close();
    com_ptr<IHTMLElement> body;
    checkHr(document->get_body(body.out()), "find the body of the HTML text");
    WideString text;
    if (keepMarkup)
        checkHr(body->get_innerHTML(&text), "read the HTML of the body");
    else
        checkHr(body->get_innerText(&text), "read the text of the HTML body");
    return text;
}

std::string htmlToUtf8Text(std::string_view html, bool keepMarkup) {
    com_ptr<IHTMLDocument2> document = pickDocument();
    DocumentReset reset(document.get());
    document->writeUtf8(html);
    document->close();
    com_ptr<IHTMLElement> body;
    checkHr(document->get_body(body.out()), "find the body of the HTML text");
    std::string text;
    if (keepMarkup)
        checkHr(body->get_innerHTMLUtf8(&text), "read the HTML of the body");
    else
        checkHr(body->get_innerTextUtf8(&text), "read the text of the HTML body");
    return text;
}
