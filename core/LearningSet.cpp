#include "core/LearningSet.h"

#include "util/Log.h"
#include "util/Text.h"
#include "core/NetFile.h"
#include "core/NeuronOut.h"

#include <utility>
#include <vector>

namespace {

const char* const sectionFiles = "Files";

std::string fileKey(const std::string& id) {
    return "file_" + id;
}

} // namespace

LearningSet::LearningSet(LearningMessages messages) : where(std::move(messages)) {}

ref_ptr<FileData> LearningSet::get(int index) const {
    return refAt<FileData>(entries, index);
}

ref_ptr<FileData> LearningSet::append(FileData* entry) {
    return appendRef(entries, entry);
}

ref_ptr<FileData> LearningSet::remove(int index) {
    return removeRef<FileData>(entries, index);
}

int LearningSet::find(const std::string& id) const {
    for (int i = 0; i < count(); ++i) {
        const auto* entry = (*entries)[i].as<FileData>();
        if (entry && entry->getId() == id)
            return i;
    }
    return -1;
}

ref_ptr<FileData> LearningSet::add(int messageId) {
    ref_ptr<FileData> entry = where.entry(messageId);
    return append(entry.get());
}

RefsPtr LearningSet::read(const NetFile& file, const RefsPtr& outputs) const {
    RefsPtr read = where.list(where.idIn(file));
    int outputTotal = refsCount(outputs);
    for (int f = 0; f < refsCount(read); ++f) {
        auto* entry = (*read)[f].as<FileData>();
        std::string assigned = file.readText(sectionFiles, fileKey(entry->getId()), "");
        for (const std::string& piece : splitText(assigned, ",")) {
            int index = toInt(piece, -1);
            if (index >= 0 && index < outputTotal)
                entry->addTarget((*outputs)[index].as<NeuronOut>());
        }
    }
    return read;
}

void LearningSet::write(const NetFile& file, const RefsPtr& outputs) const {
    file.deleteSection(sectionFiles);
    for (int f = 0; f < count(); ++f) {
        ref_ptr<FileData> entry = get(f);
        std::vector<std::string> indexes;
        for (int t = 0; t < entry->targetCount(); ++t) {
            int index = indexOfRef(outputs, entry->getTarget(t).get());
            if (index >= 0)
                indexes.push_back(formatString("%d", index));
        }
        file.writeText(sectionFiles, fileKey(entry->getId()), joinTexts(indexes, ","));
    }
}
