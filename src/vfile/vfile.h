// The virtual file layer: one handle space over disk files and library
// members. Its start and end are called by the launcher's start-up sequence.
//
// vfile/ and library/ are one layer, split in two folders by concern: the
// open-library table opens its container files through virtual handles,
// because a container can itself be a member of another library, and this
// layer reads and writes members through that table. Each folder calls the
// other; nothing below them (diskfile/, support/, platform/) calls either
// except through the hooks of diskfile/libraryhooks.h.
#pragma once

namespace tx {

// Start of the file layers: turns error reporting on.
void FileLayerInit();

// Start of the virtual file layer: clears the current library and resets the
// library table and the search list.
void VirtualInit();

// End of the virtual file layer: frees the block of library records.
void VirtualTerm();

} // namespace tx
