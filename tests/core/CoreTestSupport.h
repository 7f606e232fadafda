#pragma once

#include "util/ComPtr.h"
#include "platform/Store.h"
#include "core/Net.h"
#include "tests/support/ErrorRecorder.h"
#include "tests/support/LogRecorder.h"
#include "tests/support/StoreWorld.h"
#include "tests/support/TempFolder.h"

#include <string>
#include <vector>

// A folder holding the net file and a store (the store world of every test program).
using CoreTestFolder = StoreWorld;

// A plain-text message with the given subject and body.
std::string plainMessage(const std::string& subject, const std::string& body);

// Every weight and bias of the network, rows first, for comparing networks bit for bit.
std::vector<double> networkWeights(const BackPropagation& network);

// Builders of test nets.
ref_ptr<NeuronIn> stimulationOf(const std::string& name, std::vector<std::string> patterns);
ref_ptr<NeuronOut> folderOf(const std::string& name, const std::string& answer = {},
                            std::vector<std::string> emails = {});
