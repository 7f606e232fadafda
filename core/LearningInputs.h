#pragma once

#include "util/DoubleArray.h"

#include <string>
#include <vector>

class InputMatcher;
class LearningMessages;

// Reads and matches learning messages on a pool of threads, for the check of a learning
// set and the run that learns it. The store is asked only on the calling thread; each
// worker reads, parses and matches whole messages with objects of its own (its own HTML
// document, MIME objects and match space), and the input vectors come back in the order
// the messages were given, the same whatever the number of threads.
class LearningInputs {
public:
    struct Message {
        std::string path;       // "<folder id>/<message id>", as LearningMessages::text takes
        std::string budgetName; // names the message when its match budget runs out
    };

    // One input vector per message (matcher.inputVector of its text). A message whose
    // reading failed on a worker is read again on the calling thread with
    // LearningMessages::text, which shows the failure and counts it as an empty text.
    // threads 0: one per processor.
    static std::vector<DoublePtr> read(const LearningMessages& source, const InputMatcher& matcher,
                                       const std::vector<Message>& messages, int threads);
};
