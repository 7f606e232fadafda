#pragma once

#include <gumbo.h>

#include <string>

// The HTML serialisation of an element's children (what innerHTML gives), UTF-8.
class HtmlSerializer {
public:
    static std::string childrenOf(const GumboNode* element);
};
