// Arbitrary bytes as a message file and as an HTML body: the text extraction must
// neither crash nor hang, whatever arrives in the inbox.
#include "util/ComException.h"
#include "util/Encoding.h"
#include "util/Log.h"
#include "platform/Mime.h"
#include "mail/HtmlText.h"
#include "mail/MessageText.h"

#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const bool ready = [] {
        setLogToStderr(false);
        initMessageAccess();
        return true;
    }();
    (void)ready;
    std::string bytes(reinterpret_cast<const char*>(data), size);
    try {
        com_ptr<IMimeMessage> message;
        if (SUCCEEDED(MimeOleCreateMessage(bytes, {}, message.out()))) {
            messageText(message.get());
            headerText(message.get(), PID_HDR_SUBJECT);
            headerText(message.get(), PID_HDR_FROM);
            addressText(message.get(), IAT_REPLYTO, AFT_RFC822_EMAIL);
            FILETIME time;
            headerTime(message.get(), PID_HDR_DATE, &time);
        }
        WideString html = utf8ToWide(bytes);
        htmlToText(html, false);
        htmlToText(html, true);
    } catch (const ComException&) {
        // A clear failure is an acceptable answer to garbage.
    }
    return 0;
}
