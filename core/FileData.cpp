#include "core/FileData.h"

#include <utility>

FileData::FileData(std::string subject, std::string id, std::string from, FILETIME received)
    : Neuron(std::move(subject)), id(std::move(id)), from(std::move(from)), received(received) {}

ref_ptr<NeuronOut> FileData::getTarget(int index) const {
    if (index < 0 || index >= targetCount())
        return {};
    return targets[index].as<NeuronOut>();
}

int FileData::indexOfTarget(const NeuronOut* neuron) const {
    for (int i = 0; i < targetCount(); ++i) {
        if (targets[i].get() == neuron)
            return i;
    }
    return -1;
}

void FileData::addTarget(NeuronOut* neuron) {
    if (!neuron)
        return;
    targets.push_back(RefPtr(neuron));
}

ref_ptr<NeuronOut> FileData::removeTarget(int index) {
    if (index < 0 || index >= targetCount())
        return {};
    ref_ptr<NeuronOut> removed = targets[index].as<NeuronOut>();
    targets.erase(targets.begin() + index);
    return removed;
}
