#include "CoreTestSupport.h"

std::string plainMessage(const std::string& subject, const std::string& body) {
    return "From: Ann Example <ann@example.org>\r\nTo: bob@example.org\r\nSubject: " + subject +
           "\r\nMIME-Version: 1.0\r\nContent-Type: text/plain; charset=us-ascii\r\n\r\n" + body +
           "\r\n";
}

std::vector<double> networkWeights(const BackPropagation& network) {
    std::vector<double> all;
    for (int h = 0; h < network.getHiddenCount(); ++h)
        all.insert(all.end(), network.hwRow(h), network.hwRow(h) + network.getInputCount());
    for (int o = 0; o < network.getOutputCount(); ++o)
        all.insert(all.end(), network.owRow(o), network.owRow(o) + network.getHiddenCount());
    all.insert(all.end(), network.getHb(), network.getHb() + network.getHiddenCount());
    all.insert(all.end(), network.getOb(), network.getOb() + network.getOutputCount());
    return all;
}

ref_ptr<NeuronIn> stimulationOf(const std::string& name, std::vector<std::string> patterns) {
    ref_ptr<NeuronIn> neuron(new NeuronIn(name));
    for (const std::string& pattern : patterns)
        neuron->addRegex(pattern);
    return neuron;
}

ref_ptr<NeuronOut> folderOf(const std::string& name, const std::string& answer,
                            std::vector<std::string> emails) {
    ref_ptr<NeuronOut> neuron(new NeuronOut(name));
    neuron->setAnswer(answer);
    neuron->setEmails(emails);
    return neuron;
}
