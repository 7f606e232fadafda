#pragma once

#include "util/Encoding.h"

#include <string>
#include <string_view>

// HTML to text through the platform's HTML document, and the module's set-up.

// Records the calling thread as the one that owns the shared HTML document; called once
// at start-up on the user-interface thread.
void initMessageAccess();
// Releases the shared HTML document; called at program end on the same thread.
void finalizeMessageAccess();

// The visible text of the HTML's body (its inner HTML with keepMarkup), CR LF line ends.
// On the initialising thread one shared document serves every call ("shared HTML
// document created" when it is made); any other thread gets a document of its own per
// call ("NON shared HTML document created"). A failing creation raises ComException
// with "CoCreateInstance error"; a document without a body raises as well.
WideString htmlToText(const WideString& html, bool keepMarkup);
// htmlToText for UTF-8 HTML, giving UTF-8: the classifier's way, with no UTF-16 pass.
std::string htmlToUtf8Text(std::string_view html, bool keepMarkup);
