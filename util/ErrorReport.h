#pragma once

#include "util/ComException.h"

#include <functional>
#include <string>

// The text of an error box: "com error %#x: %s in context '<context>'", where %s is what
// failed and why ("copy message 7 into folder 12: No space left on device"); never empty.
std::string comErrorText(const ComException& e, const std::string& context);

// Shows a ComException to the user with the caption "Error". Who shows it is
// replaceable: the windows install a message box, the command-line tool prints.
void showComError(const ComException& e, const std::string& context);

// caption, text
using ErrorReporter = std::function<void(const std::string&, const std::string&)>;
// Installs a reporter and returns the previous one; the default prints to stderr.
ErrorReporter setErrorReporter(ErrorReporter reporter);
// Shows any text through the installed reporter (used for boxes with other captions).
void reportError(const std::string& caption, const std::string& text);
