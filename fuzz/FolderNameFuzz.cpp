// Folder names: any byte string either is refused or becomes one path component that
// stays inside the store and decodes back to the very same name.
#include "platform/maildir/MaildirNames.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string name(reinterpret_cast<const char*>(data), size);

    std::string component = MaildirNames::encode(name);
    if (!component.empty()) {
        if (component.find('.') != std::string::npos || component.find('/') != std::string::npos ||
            component.find('\0') != std::string::npos)
            std::abort();
        if (MaildirNames::decode(component) != name)
            std::abort();
        std::string dirName = MaildirNames::childDirName(".Parent", name);
        auto parts = MaildirNames::components(dirName);
        if (parts.size() != 2 || parts[1] != component)
            std::abort();
    }

    // A name found on disk (made by any program) decodes without harm, and a decoded name
    // that is stored again reads back the same.
    std::string decoded = MaildirNames::decode(name);
    std::string again = MaildirNames::encode(decoded);
    if (!again.empty() && MaildirNames::decode(again) != decoded)
        std::abort();
    MaildirNames::components(name);
    return 0;
}
