#pragma once

#include <string>

class QTextDocument;

// Fills the document from the RTF that highlightMatches writes: text, "\par" paragraph
// breaks, "\highlight1" and "\highlight0" switching the red background on and off, the
// escapes \\ \{ \} and \'xx (bytes in the system code page). Groups such as the colour
// table are skipped, other control words ignored and raw line breaks dropped, as a
// rich-text control does.
void readRtf(QTextDocument* document, const std::string& rtf);
