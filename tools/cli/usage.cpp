#include "tools/cli/usage.hpp"

const char* const talvik_usage = R"(talvik: makes one-file launchers for 64-bit Windows applications

usage:
  talvik pack APP_DIR -o OUT.exe [options]   pack a folder into a launcher image
  talvik list [--json] IMAGE.exe             show an image's constants and entries
  talvik help [pack | list]                  this text, or a command's own
  talvik pack --help | talvik list --help    the same
  talvik --version                           talvik's own version

talvik list prints the path template, company, product and version of an image made
by talvik pack, whether it is a console or a windowed launcher, then one line per entry:
size in bytes, stored CRC-32 (marked "!" when the body does not match it) and the name,
in stream order; then the entry count.

Exit status: 0 on success, 1 on any error (one line "talvik: error: ..." on stderr).
)";

const char* const list_usage = R"(usage: talvik list [--json] IMAGE.exe

Prints the path template, company, product and version of an image made by talvik pack,
its subsystem (console, or windowed for an image packed with --windowed), the size of
its attached data and its identity (a hash of it: equal for equal attached data), its
reuse check (crc or metadata), what it does with old trees (remove or keep), whether the
child ends with the launcher, whether a slow start shows a progress window, then one
line per entry: size in bytes, stored CRC-32
(marked "!" when the body does not match it) and the name, in stream order; then the
entry count and their total size. Control characters in names show as \n, \xNN or \uNNNN.

Every body is decoded to check it, so a listing takes about as long as a first start
unpacks; entries show as they decode, and on a terminal a progress line counts the
decoded bytes (Ctrl+C stops it). Memory stays that of the attached data and the window
its frame declares (at most 128 MiB), whatever the entries declare. IMAGE.exe must be a regular file of at most the
largest image talvik writes (with room for a signature); a name that a launcher refuses
(1,024 units or more, or one that would lead out of its folder) stops the listing.

--json prints the same as one JSON document on stdout instead, written as the entries
decode: image_size, attached_data_size, identity (16 hex digits, or null), template,
company, product, version, subsystem (console, windowed), reuse_check (crc, metadata),
old_trees (remove, keep), child_lifetime (ends_with_launcher, outlives_launcher),
progress_window (when_slow, off), entries (each with name, size, checksum as 8 hex
digits, checksum_matches), entry_count and uncompressed_bytes. These names stay stable;
errors stay one line on stderr. Described in full in docs/json.md.

Exit status: 0 when every entry matches its checksum; 1 for an unreadable or malformed
image, output that cannot be written, or after listing entries that do not match (one
line "talvik: error: ..." on stderr).
)";

const char* const pack_usage = R"(usage: talvik pack APP_DIR -o OUT.exe [options]
       talvik pack --attached-data FILE -o OUT.exe [options]

Packs every file below APP_DIR into a launcher image. When the image runs, it unpacks
them into the folder its path template names (reusing files whose CRC-32 matches) and
starts the first entry, the application's executable.

  -o, --output OUT.exe   the image to write (also -oOUT.exe, --output=OUT.exe); it
                         appears only when all went well. A symbolic link is followed:
                         the image replaces the regular file it leads to, and the link
                         stays. A folder, device, FIFO or socket (or a link to one) is
                         refused, and so is a file that would be packed
  --exe REL              the first entry, relative to APP_DIR ("/" or "\" separated);
                         default: the one .exe file at the top of APP_DIR
  --exclude PATTERN      leave out what PATTERN matches, checks included; give it as
                         often as needed, e.g. --exclude '*.pdb' --exclude '.git/'
                         (see Excludes below)
  --company TEXT         company name; default: the product name
  --product TEXT         product name; default: the name of the APP_DIR folder
                         (with --attached-data: the output name without .exe),
                         with a warning
  --version A.B.C.D      one to four numbers 0..65535 (A, A.B, A.B.C or A.B.C.D), the
                         missing ones 0: 1.2.3 is 1.2.3.0; written without leading
                         zeros; default: 1.0.0.0
  --template TEXT        where the image unpacks; default with --version:
                         {CACHE_DIR}\<company without blanks>\<product, blanks as ->\<A.B>,
                         without it the same with the first 12 hex digits of the
                         image's identity (a hash of its attached data, as talvik list
                         shows it) instead of <A.B>: images of different contents
                         never share a folder, and those of the same contents do
                         tokens (any ASCII case): TEMP PROGRAM PROGRAM_BASE PROGRAM_DIR
                         PID HOME CACHE_DIR COMPANY PRODUCT VERSION FILE_VERSION
                         PRODUCT_VERSION RANDOM TIME_US TIME; a "}" outside a token is
                         kept as text (with a warning)
  --copyright TEXT       LegalCopyright of the version block;
                         default: "Copyright (C) <company>"
  --icon FILE.png        give seven times, once for each size 16 24 32 48 64 128 256
                         (square PNGs of 8-bit RGBA); default: talvik's own icon
  --level 1..22          zstd compression level; default: 19
  --window-log 10..27    zstd window; default: the smallest covering all the data
  --threads 1..256       how many workers compress at once; default: one per core.
                         The data is cut into compression jobs of 16 MiB whatever
                         their number, so the image is the same byte for byte
  --attached-data FILE   build around a ready attached-data block instead of APP_DIR;
                         it is checked whole first, as talvik list reads it (header,
                         one frame, entries with names a launcher takes and bodies
                         that match their checksums, trailer), and refused otherwise
  --reuse-check MODE      how a start decides that the unpacked files are intact: crc
                         (default) checksums every file at every start; metadata
                         trusts a stamp of sizes and last-write times (see Reuse
                         checks below)
  --old-trees WHAT       remove (default) or keep: whether a start removes the trees
                         that other images of the same company and product unpacked
                         and no launcher uses any more (see Old trees below)
  --child-outlives-launcher
                         leave the application running when the launcher is ended
                         (killed, or ended from Task Manager); by default it ends too
                         (see Child lifetime below)
  --windowed             a windowed launcher, for an application that opens windows of
                         its own: Windows opens no console window for it (see Windowed
                         launchers below)
  --no-progress          a windowed launcher shows no progress window, however slow its
                         first start (see Progress window below)
  -q, --quiet            no summary line and no progress line
  --json                 instead of the summary line, one JSON document on stdout
                         (also with --quiet): output, image_size, attached_data_size,
                         identity, template, company, product, version, subsystem,
                         reuse_check, old_trees, child_lifetime, progress_window,
                         entry_count, uncompressed_bytes, seconds; the names stay
                         stable (docs/json.md, and talvik help list for the values)
  -h, --help             this text

Entries: the executable first, then every other file ordered by its UTF-16 name, code
unit by code unit, with "\" between folder names. Symbolic links count as what they
point to, and must stay inside APP_DIR. Empty folders are not carried. The output and
its temporary file are never packed, nor is an earlier image of talvik's at the
output's name; any other file there is refused as an input file. A top-level name
beginning with ".talvik-stamp" or ".talvik-lock" (any case) is refused too: launchers
keep their stamp and their lock there.

Names must work on Windows: no <>:"|?*\ or control characters, no component ending in
a dot or blank, no device name (CON PRN AUX NUL COM0-COM9 LPT0-LPT9, also with a
superscript 1, 2 or 3, CONIN$ CONOUT$; any case, any extension) in any component, and
no two files or folders whose names differ only in case as Windows compares them
(Unicode's simple upper case, so beyond ASCII too: an accented capital clashes with its
small letter, and a file "Data" with a folder "data").

Excludes: PATTERN is matched against each file's and folder's path relative to APP_DIR,
with "/" between components and case ignored as Windows ignores it. "*" matches within
one component, "?" one character, "**" any number of components; a trailing "/" matches
folders only. A pattern without any other "/" matches at any depth ('*.pdb' leaves out
every .pdb file, '.git/' every .git folder); one with a "/" inside or in front counts
from APP_DIR ('docs/*.md', '/build/'). A folder left out takes everything below it. The
first entry cannot be left out.

The version block holds FileDescription = product, OriginalFilename = product with
blanks as "-" plus ".exe", InternalName = the same without ".exe"; its version strings
and the {VERSION} tokens get the normalised A.B.C.D.

A name that may not fit the launcher's 4095-unit path limit is warned about, taking
{CACHE_DIR} as C:\Users\<20 characters>\AppData\Local (43 units), {HOME} as 29, {TEMP}
as 48 and {PROGRAM}, {PROGRAM_BASE} and {PROGRAM_DIR} as 100 units.

On a terminal, a progress line shows the scan, the compression and the writing of the
image; the summary line gives the sizes (KiB, MiB: units of 1024), the image's size and
the template the image got.

Windowed launchers: the image differs from the console one only in the Subsystem field
of its header (2, GUI, instead of 3, console), so started from Explorer or a shortcut it
opens no console window beside the application. It runs exactly as the console image,
and its child gets the standard handles it was given (often none). A failure message
whose stream has no handle shows in a message box instead, titled with the product name;
with a handle (a file, a pipe, an inherited console) it is written there as usual. A
console program started by a windowed launcher gets a console of its own without a
window, and prints to the standard handles the launcher was given (so output that a
script redirects still arrives); pack it without --windowed to show its console.

Child lifetime: the launcher puts the application in a job object that it alone holds,
so when the launcher ends in any way (killed by a CI time-out, ended from Task Manager,
terminated by its parent) the application ends too. Processes the application starts are
not in the job and live on, and a normal end of the launcher, after the application has
ended, ends nothing. Where the system makes no job or refuses it (an outer job that
forbids it), the application runs without one. With --child-outlives-launcher the
launcher makes no job; talvik list shows the choice.

Progress window: a windowed launcher whose start has not reached the application within
a second (a first start that unpacks a big application, or the check of a big tree)
shows a small window titled with the product name: the image's icon, the line
"Preparing <product> for its first start" ("Checking <product>" while it has written
nothing) and a bar of the unpacked data against its total. It closes once the
application is ready for input, at most ten seconds after it started, or has ended. A
start that reaches the application within the second shows nothing; a console launcher
never shows one. Nothing else changes: the same unpacking, messages and exit status.
--no-progress turns it off; talvik list shows the choice.

Reuse checks: with crc, every start decodes the attached data and compares each file
on disk with its entry's CRC-32, rewriting those that differ. Every start that found or
made every file whole writes a stamp into the unpacked folder (".talvik-stamp": the
image's identity, company and product, each file's size and last-write time). With
metadata, the next start of the same image lists the folders of the tree, and when every
file still has the size and last-write time of the stamp, starts the application
without decoding or opening anything; otherwise it takes the crc road, repairs the tree
and writes a new stamp. What it trusts: a file whose size and last-write time are unchanged is taken as
unchanged, so an edit that keeps both goes unnoticed until the stamp goes (the crc
check notices it at the next start). Files that the user adds are ignored, as with crc.
A start that writes any file removes the stamp first, so a crash or a full disk never
leaves a stamp that vouches for a part-written tree.

Old trees: with remove, a launcher whose application has started looks at the other
folders beside its unpacked folder. A folder whose stamp names the same company and
product and another image, and that no launcher uses (each holds a mark in the folder's
lock file until its application has ended), is moved aside and loses exactly the files
its stamp lists that still have the size and last-write time it recorded, then the
folders left empty, the stamp and the lock file. Files the user or the application added
or changed stay, in the folder under its own name. Nothing else is ever removed: no
folder without such a stamp, no file changed since. Two versions started in turn remove
each other's trees, so each start of the other is a first start; keep avoids that.

The image is written from the launcher stub built into talvik: no compiler, linker or
other program is needed. Its attached data must stay below about 2 GiB, the most a PE
image is known to load with; talvik stops, writing nothing, when it does not.
)";
