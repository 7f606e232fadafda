#pragma once

#include "util/ComPtr.h"
#include "platform/Mime.h"

#include <string>

// Parses a message held in memory; fails the test when the layer refuses it.
com_ptr<IMimeMessage> parseMessage(const std::string& bytes, FILETIME received = {});
com_ptr<IMimeMessage> loadMessage(const std::string& path, FILETIME received = {});

// The body of that kind as UTF-8 (read through the stream in the program's 2046-byte
// chunks), or "<none>" when the message has none.
std::string bodyOf(IMimeMessage* message, std::uint32_t kind);

// The contents of a file of the test corpus (tests/data/mail/<name>).
std::string corpusPath(const std::string& name);
