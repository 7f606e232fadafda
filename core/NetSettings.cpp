#include "core/NetSettings.h"

#include "util/Text.h"
#include "platform/profile/ProfileBatch.h"
#include "core/NetFile.h"

#include <utility>

namespace {

const char* const section = "settings";

} // namespace

NetSettings::Texts NetSettings::textsOf(const NetFile& file) {
    Texts texts;
    for (const char* key :
         {keyJobVariant, keyStoreMail, keyEnabled, keyEnabledPeriod, keyPeriodFrom, keyPeriodTo,
          keyThreshold, keyFrom, keyDestFolder, keyNotifySorted})
        if (std::optional<std::string> text = file.findText(section, key))
            texts.emplace_back(key, std::move(*text));
    return texts;
}

void NetSettings::pin(Texts texts) {
    pinned = std::make_shared<const Texts>(std::move(texts));
}

std::optional<std::string> NetSettings::find(const char* key) const {
    if (!pinned)
        return NetFile(fileName).findText(section, key);
    for (const auto& [name, text] : *pinned)
        if (name == key)
            return text;
    return std::nullopt;
}

NetSettings::NetSettings(std::string netFile, MessageSourcePtr source)
    : fileName(std::move(netFile)), source(std::move(source)) {}

// The conversions are NetFile's readInt, readDateTime, readText and readReal.
int NetSettings::number(const char* key, int defaultValue) const {
    std::optional<std::string> text = find(key);
    return text ? toInt(*text, defaultValue) : defaultValue;
}

bool NetSettings::setNumber(const char* key, int value) const {
    pinned.reset();
    return NetFile(fileName).writeInt(section, key, value);
}

DateTime NetSettings::time(const char* key) const {
    std::optional<std::string> text = find(key);
    DateTime now = nowLocal();
    return text ? parseTimeStamp(*text, now) : now;
}

bool NetSettings::setTime(const char* key, DateTime value) const {
    pinned.reset();
    return NetFile(fileName).writeDateTime(section, key, value);
}

std::string NetSettings::text(const char* key) const {
    return find(key).value_or("");
}

bool NetSettings::setText(const char* key, const std::string& value) const {
    pinned.reset();
    return NetFile(fileName).writeText(section, key, value);
}

double NetSettings::getThreshold() const {
    std::optional<std::string> text = find(keyThreshold);
    return text ? toReal(*text, 80.0) : 80.0;
}

bool NetSettings::setThreshold(double value) const {
    pinned.reset();
    return NetFile(fileName).writeReal(section, keyThreshold, value);
}

std::string NetSettings::getDestFolder() const {
    std::string folder = text(keyDestFolder);
    if (!folder.empty())
        return folder;
    return programFolder(source.get(), "outlookexpress.folder.output");
}

bool NetSettings::setDestFolder(const std::string& value) const {
    return setText(keyDestFolder, value);
}

NetSettings::Values NetSettings::read() const {
    // One copy of the file answers every key, so a save by another program in between
    // cannot mix old values with new ones.
    NetFile file = NetFile::snapshot(fileName);
    Values values;
    values.jobVariant = file.readInt(section, keyJobVariant, values.jobVariant);
    values.storeMail = file.readInt(section, keyStoreMail, values.storeMail);
    values.enabled = file.readInt(section, keyEnabled, values.enabled);
    values.enabledPeriod = file.readInt(section, keyEnabledPeriod, values.enabledPeriod);
    values.periodFrom = file.readDateTime(section, keyPeriodFrom, nowLocal());
    values.periodTo = file.readDateTime(section, keyPeriodTo, nowLocal());
    values.from = file.readText(section, keyFrom, values.from);
    values.notifySorted = file.readInt(section, keyNotifySorted, values.notifySorted);
    return values;
}

bool NetSettings::write(const Values& values) const {
    ProfileBatch batch(fileName);
    write(NetFile(fileName, &batch), values);
    return batch.commit();
}

void NetSettings::write(const NetFile& file, const Values& values) {
    file.writeInt(section, keyJobVariant, values.jobVariant);
    file.writeInt(section, keyStoreMail, values.storeMail);
    file.writeInt(section, keyEnabled, values.enabled);
    file.writeInt(section, keyEnabledPeriod, values.enabledPeriod);
    file.writeDateTime(section, keyPeriodFrom, values.periodFrom);
    file.writeDateTime(section, keyPeriodTo, values.periodTo);
    file.writeText(section, keyFrom, values.from);
    file.writeInt(section, keyNotifySorted, values.notifySorted);
}

void NetSettings::writeThreshold(const NetFile& file, double value) {
    file.writeReal(section, keyThreshold, value);
}
