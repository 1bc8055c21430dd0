// Linked only into the launcher image; test programs link a definition they can shorten.
#include "payload/lock_patience.hpp"

DWORD extraction_lock_patience() {
    return extraction_lock_patience_ms;
}
