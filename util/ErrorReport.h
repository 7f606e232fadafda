#pragma once

#include "util/ComException.h"

#include <functional>
#include <string>

// What failed and why, in plain words: the exception's text (what failed, e.g. "copy inbox
// message 7 into folder 'A'") and the reason its code stands for ("No space left on
// device"); never empty.
std::string comErrorText(const ComException& e);
// The text of an error box: "<action> failed: " and comErrorText(e), the action saying in
// plain words what the program was doing ("Sorting a new message").
std::string comErrorText(const ComException& e, const std::string& action);

// Shows comErrorText(e, action) to the user with the caption "Error". Who shows it is
// replaceable: the windows install a message box, the command-line tool prints.
void showComError(const ComException& e, const std::string& action);

// caption, text
using ErrorReporter = std::function<void(const std::string&, const std::string&)>;
// Installs a reporter and returns the previous one; the default prints to stderr.
ErrorReporter setErrorReporter(ErrorReporter reporter);
// Shows any text through the installed reporter (used for boxes with other captions).
void reportError(const std::string& caption, const std::string& text);
