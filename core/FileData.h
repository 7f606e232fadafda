#pragma once

#include "util/DateTime.h"
#include "util/Refs.h"
#include "core/Neuron.h"
#include "core/NeuronOut.h"

#include <string>

// One learning message: its subject (the name), store id, sender and time of receipt,
// fixed at construction, and the target folders the user assigned it to.
class FileData : public Neuron {
public:
    FileData(std::string subject, std::string id, std::string from, FILETIME received);

    const std::string& getId() const { return id; }
    const std::string& getFrom() const { return from; }
    FILETIME getReceived() const { return received; }

    // Targets in order of assignment; duplicates are not rejected.
    int targetCount() const { return static_cast<int>(targets.size()); }
    // Null when the index is out of range.
    ref_ptr<NeuronOut> getTarget(int index) const;
    // Position by identity; -1 when absent.
    int indexOfTarget(const NeuronOut* neuron) const;
    void addTarget(NeuronOut* neuron);
    // The removed target, or null (and no change) when the index is out of range.
    ref_ptr<NeuronOut> removeTarget(int index);

private:
    Refs targets;
    std::string id;
    std::string from;
    FILETIME received;
};
