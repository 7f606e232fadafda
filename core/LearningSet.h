#pragma once

#include "util/Ref.h"
#include "util/Refs.h"
#include "core/FileData.h"
#include "core/LearningMessages.h"

#include <string>

class NetFile;

// A net's learning set: one entry per message of its learning folder, each with the
// target folders the user assigned it to. The entries are rebuilt from the folder's
// messages; the net file keeps only the assignments ("Files": "file_<id>" = the output
// indexes joined by ","). Lookups give null when out of range and searches -1.
class LearningSet {
public:
    explicit LearningSet(LearningMessages messages);

    const LearningMessages& messages() const { return where; }

    int count() const { return refsCount(entries); }
    ref_ptr<FileData> get(int index) const;
    // Appends one entry and returns it (null is not added).
    ref_ptr<FileData> append(FileData* entry);
    ref_ptr<FileData> remove(int index);
    // Index of the first entry whose id equals the text exactly ("12" is not "012").
    int find(const std::string& id) const;
    // Builds the entry of that message of the learning folder and appends it; null (and
    // nothing appended) when it cannot be read.
    ref_ptr<FileData> add(int messageId);

    // The entries of the messages now in the learning folder (as the file names it), with
    // their assignments read from the file: every index that names one of the outputs.
    RefsPtr read(const NetFile& file, const RefsPtr& outputs) const;
    // Replaces the entries (a list from read).
    void replace(const RefsPtr& newEntries) { entries = newEntries; }
    // Rewrites the "Files" section: every entry's key, with the positions in outputs of
    // its targets that are still outputs.
    void write(const NetFile& file, const RefsPtr& outputs) const;

private:
    LearningMessages where;
    RefsPtr entries;
};
