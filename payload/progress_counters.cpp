#include "payload/progress_counters.hpp"

uint64_t entry_stream_bytes_decoded;
uint64_t files_opened_for_writing;
