#pragma once

#include <stdint.h>

// How far the unpacking has come, for the progress window of a windowed image, which reads
// these on a thread of its own. Only the main thread writes them, one aligned 64-bit store
// at a time, so the reader always sees a whole value; relaxed order is enough, as nothing
// else is published through them. The cost is one add and one store per decoder call and
// per file written.
extern uint64_t entry_stream_bytes_decoded;
extern uint64_t files_opened_for_writing;

inline void count_decoded_bytes(uint64_t count) {
    __atomic_store_n(&entry_stream_bytes_decoded, entry_stream_bytes_decoded + count, __ATOMIC_RELAXED);
}

inline void count_file_opened_for_writing() {
    __atomic_store_n(&files_opened_for_writing, files_opened_for_writing + 1, __ATOMIC_RELAXED);
}

inline uint64_t decoded_bytes_so_far() {
    return __atomic_load_n(&entry_stream_bytes_decoded, __ATOMIC_RELAXED);
}

inline uint64_t files_written_so_far() {
    return __atomic_load_n(&files_opened_for_writing, __ATOMIC_RELAXED);
}
