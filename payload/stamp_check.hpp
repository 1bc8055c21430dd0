#pragma once

// The fast road of an image that checks by metadata: when directory holds a stamp of this
// image whose every entry is on disk with the size and last-write time it records (each
// directory of the tree listed once), the first entry's path, the child to start; the
// attached data then need not be opened. Null for every other finding (no stamp, another
// image's, one that does not parse, a missing or changed file), and always for an image
// that checks by CRC-32.
const wchar_t* tree_matches_stamp(const wchar_t* directory);
