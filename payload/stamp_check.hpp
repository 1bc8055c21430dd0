#pragma once

// The fast road of an image that checks by metadata: true when the target directory holds
// a stamp of this image whose every entry is on disk with the size and last-write time it
// records, each directory of the tree listed once. child_executable_path is then the first
// entry's path, and the attached data need not be opened. False for every other finding
// (no stamp, another image's, one that does not parse, a missing or changed file), and
// always for an image that checks by CRC-32.
bool tree_matches_stamp();
