#include "platform/maildir/MaildirFileName.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>

#include <unistd.h>

std::string MaildirFileName::uniqueName() {
    static std::atomic<unsigned> counter{0};
    auto now = std::chrono::system_clock::now().time_since_epoch();
    auto micros = std::chrono::duration_cast<std::chrono::microseconds>(now).count();
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0')
        std::snprintf(host, sizeof host, "localhost");
    std::string hostName;
    for (const char* c = host; *c; ++c) {
        if (*c == '/')
            hostName += "\\057";
        else if (*c == ':')
            hostName += "\\072";
        else
            hostName += *c;
    }
    return std::to_string(micros / 1000000) + ".M" + std::to_string(micros % 1000000) + "P" +
           std::to_string(getpid()) + "Q" + std::to_string(++counter) + "." + hostName;
}

std::string MaildirFileName::baseName(const std::string& fileName) {
    return withoutSyncUid(fileName.substr(0, fileName.find(':')));
}

std::string MaildirFileName::flags(const std::string& fileName) {
    size_t info = fileName.find(":2,");
    if (info == std::string::npos)
        return {};
    return fileName.substr(info + 3);
}

bool MaildirFileName::isMessageFile(const std::string& fileName) {
    return !fileName.empty() && fileName[0] != '.' && fileName.find('\n') == std::string::npos;
}

std::string MaildirFileName::withoutSyncUid(const std::string& fileName) {
    size_t baseEnd = std::min(fileName.find(':'), fileName.size());
    for (size_t at = fileName.find(",U="); at < baseEnd; at = fileName.find(",U=", at + 1)) {
        size_t end = at + 3;
        while (end < baseEnd && fileName[end] >= '0' && fileName[end] <= '9')
            ++end;
        // Only ",U=<digits>" as a whole field (up to the next "," or the end of the base).
        if (end > at + 3 && (end == baseEnd || fileName[end] == ','))
            return fileName.substr(0, at) + fileName.substr(end);
    }
    return fileName;
}
