#pragma once

// The file in the root of an unpacked tree in which a launcher that checks by metadata
// records the tree it last found or made whole, and the start of the temporary names it
// writes the next one under. ASCII, so that the host and the launcher spell it alike;
// talvik pack refuses entries whose top-level name begins with it, in any case.
constexpr char tree_stamp_name[] = ".talvik-stamp";
