#include "sorting/SortDecision.h"

const char* SortDecision::actionName(Action action) {
    switch (action) {
    case Action::Move:
        return "moved";
    case Action::Forward:
        return "forwarded";
    case Action::Answer:
        return "answered";
    case Action::Leave:
        break;
    }
    return "left";
}
