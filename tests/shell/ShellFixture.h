#pragma once

#include <string>

// Homes and stores for the tray program's tests, the screenshots and the memory figures.
namespace shellFixture {

// A plain-text message.
std::string message(const std::string& subject, const std::string& body);
// Writes content into folderDir/new/ through folderDir/tmp/, as a delivery agent does
// (the three subfolders are made when missing). Returns the new file's path.
std::string deliver(const std::string& folderDir, const std::string& content,
                    const std::string& name);
// Copies strings.ini next to the programs into home.
void copyStrings(const std::string& home);
// A net in home/zelko.ini over the store at maildir, learned on four messages: two
// stimulations ("invoice", "meeting") and two target folders ("Invoices", "Meetings").
// Job variant 1, sorting on. Uses home/strings.ini for the folder names.
void writeLearnedNet(const std::string& home, const std::string& maildir);
// An invoice that the learned net sorts into "Invoices".
std::string invoiceMessage(int number);

} // namespace shellFixture
