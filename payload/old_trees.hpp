#pragma once

// The removal of old trees: after its child has started, a launcher of an image packed with
// --old-trees remove looks at the other folders beside its target directory and removes the
// trees that other images of its company and product left there and that nobody uses.
//
// A sibling goes only when its stamp parses and names this company and product and another
// image, and its lock file lets the writer and in-use ranges both be taken at once. The
// launcher then sets the condemned mark, moves the folder aside under a name of its own
// (old_tree_prefix, its process id, '-', the folder's name; Windows refuses the move while
// any file in it is open, which leaves a tree that a grandchild still runs from whole), and
// deletes only the files that the stamp lists with the size and last-write time it recorded,
// the folders left empty, the stamp and the lock file, and the folder when empty. A folder
// that still holds files moves back to its name. A folder found aside is a removal cut short,
// finished the same way. Every failure leaves the folder as it is, for a later start.
void remove_old_trees(const wchar_t* directory);

// The start of an aside name. A leading dot and this spelling are never a version folder of
// talvik pack's templates.
constexpr wchar_t old_tree_prefix[] = L".talvik-old-";
