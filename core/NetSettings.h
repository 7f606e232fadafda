#pragma once

#include "util/DateTime.h"
#include "core/MessageSource.h"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

class NetFile;

// The "settings" section of the net file: what the sorter does and when. Getters read
// the file every time (another program may have changed it) and each setter writes at
// once; write stores the values the settings window edits together, in one replacement of
// the file.
class NetSettings {
public:
    // The values the settings window edits, with their read defaults.
    struct Values {
        int jobVariant = 1;
        int storeMail = 1;
        int enabled = 1;
        int enabledPeriod = 0;
        DateTime periodFrom = 0;
        DateTime periodTo = 0;
        std::string from;
        // The tray program's message after sorting ("Tell me when mail is sorted").
        int notifySorted = 0;
    };

    // The decoded values of the section's keys present in a file, by key.
    using Texts = std::vector<std::pair<std::string, std::string>>;

    // source (may be null) finds or creates the default output folder.
    NetSettings(std::string netFile, MessageSourcePtr source);

    // The section's keys the file holds, as the getters read them.
    static Texts textsOf(const NetFile& file);
    // From here on the getters answer from these values, read with the net (a net loaded
    // for sorting reads its file once), until a setter writes or unpin() is called.
    void pin(Texts texts);
    void unpin() { pinned.reset(); }

    int getJobVariant() const { return number(keyJobVariant, 1); }
    bool setJobVariant(int value) const { return setNumber(keyJobVariant, value); }
    int getStoreMail() const { return number(keyStoreMail, 1); }
    bool setStoreMail(int value) const { return setNumber(keyStoreMail, value); }
    int getEnabled() const { return number(keyEnabled, 1); }
    bool setEnabled(int value) const { return setNumber(keyEnabled, value); }
    int getEnabledPeriod() const { return number(keyEnabledPeriod, 0); }
    bool setEnabledPeriod(int value) const { return setNumber(keyEnabledPeriod, value); }
    // The ends of the period; missing, they read as now (local time).
    DateTime getPeriodFrom() const { return time(keyPeriodFrom); }
    bool setPeriodFrom(DateTime value) const { return setTime(keyPeriodFrom, value); }
    DateTime getPeriodTo() const { return time(keyPeriodTo); }
    bool setPeriodTo(DateTime value) const { return setTime(keyPeriodTo, value); }
    // Percent, default 80.
    double getThreshold() const;
    bool setThreshold(double value) const;
    std::string getFrom() const { return text(keyFrom); }
    bool setFrom(const std::string& value) const { return setText(keyFrom, value); }
    // When missing or empty, the id of the folder named by "outlookexpress.folder.output"
    // inside the main folder, created when missing (not written back); empty without a
    // source. Store failures raise ComException.
    std::string getDestFolder() const;
    bool setDestFolder(const std::string& value) const;

    // The values, read from one consistent copy of the file.
    Values read() const;
    // Writes the values as one batch: the file holds all of them or, when it could not be
    // written (false, and a log line), none.
    bool write(const Values& values) const;
    // The same values, and the threshold, into a file with a batch (NetFile): for a caller
    // that changes other sections in the same replacement of the file.
    static void write(const NetFile& file, const Values& values);
    static void writeThreshold(const NetFile& file, double value);

private:
    // The keys of the section.
    static constexpr const char* keyJobVariant = "jobvariant";
    static constexpr const char* keyStoreMail = "storemail";
    static constexpr const char* keyEnabled = "enabled";
    static constexpr const char* keyEnabledPeriod = "enabled.period";
    static constexpr const char* keyPeriodFrom = "enabled.period.from";
    static constexpr const char* keyPeriodTo = "enabled.period.to";
    static constexpr const char* keyThreshold = "threshold";
    static constexpr const char* keyFrom = "from";
    static constexpr const char* keyDestFolder = "destFolder";
    static constexpr const char* keyNotifySorted = "notify.sorted";

    int number(const char* key, int defaultValue) const;
    bool setNumber(const char* key, int value) const;
    DateTime time(const char* key) const;
    bool setTime(const char* key, DateTime value) const;
    std::string text(const char* key) const;
    bool setText(const char* key, const std::string& value) const;

    std::optional<std::string> find(const char* key) const;

    std::string fileName;
    MessageSourcePtr source;
    mutable std::shared_ptr<const Texts> pinned;
};
