// The virtual file layer: one handle space over disk files and library
// members. Its start and end are called by the launcher's start-up sequence.
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
