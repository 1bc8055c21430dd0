// Linked only into the launcher image; test programs link a definition they can shorten.
#include "child/grace_period.hpp"

DWORD console_event_grace_ms() {
    return child_grace_period_ms;
}
