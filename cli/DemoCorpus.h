#pragma once

#include <string>
#include <vector>

// Sample mail of our own for the demonstration: realistic messages of a few kinds,
// plain and HTML, generated from templates so every message is different.
struct DemoMessage {
    std::string folder; // the folder a person would file it in
    std::string text;   // the whole RFC 822 message, LF line ends
};

struct DemoStimulation {
    std::string name;
    std::vector<std::string> patterns;
};

struct DemoFolder {
    std::string name;
    std::string answer;
    std::vector<std::string> emails;
};

// count messages of each kind; seed varies the details (learning set and new mail
// use different seeds, so the sorted mail is not the learned mail).
std::vector<DemoMessage> demoMessages(int perFolder, unsigned seed);
std::vector<DemoStimulation> demoStimulations();
std::vector<DemoFolder> demoFolders();
