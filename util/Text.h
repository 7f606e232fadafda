#pragma once

#include <string>
#include <vector>

// Every match of pattern replaced, searching on right after each inserted
// replacement (inserted text is never scanned again); case-sensitive.
std::string replaceAll(const std::string& text, const std::string& pattern,
                       const std::string& replacement);

// Pieces between separators; inner pieces may be empty, the text after the last
// separator counts only when it is not empty ("a;" gives one piece, "" none).
std::vector<std::string> splitText(const std::string& text, const std::string& separator);
std::string joinTexts(const std::vector<std::string>& pieces, const std::string& separator);

// Drops every leading and trailing byte whose code is at most 32.
std::string trimText(const std::string& text);
// Only A to Z are lowered; every other byte (accented letters too) stays.
std::string lowerText(const std::string& text);

// The whole text as a signed decimal integer, else the default.
int toInt(const std::string& text, int defaultValue);
// The longest leading part that reads as a C real number, else the default.
// Independent of the user's locale: the decimal separator is always a full stop.
double toReal(const std::string& text, double defaultValue);
// "%f" with a full stop under every locale.
std::string formatReal(double value);

// "<" and ">" escaped; "&" stays as it is.
std::string escapeHtml(const std::string& text);
// escapeHtml, then every CR LF becomes "<br>" (a lone LF stays).
std::string textToHtml(const std::string& text);

// The columns a terminal gives the UTF-8 text: a double-width character counts two, a
// combining mark none, a control character or a byte that is no UTF-8 one. The C library
// answers in a UTF-8 locale; elsewhere a small table of the wide and combining ranges does.
std::size_t displayWidth(const std::string& text);
// The text fitted to exactly width columns for a table: control characters become blanks,
// bytes that are no UTF-8 "?", a text too wide is cut on a character and ends in "~", a
// narrower one is padded with blanks (on the right, or on the left with alignRight).
std::string fitToWidth(const std::string& text, std::size_t width, bool alignRight = false);
