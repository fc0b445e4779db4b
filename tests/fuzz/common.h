// What the fuzz targets share: a scratch file in the memory file store for
// the bytes under test, and the start and end of the file layers around each
// input, so that every run begins from the same empty state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace txfuzz {

// Writes the input to the scratch file and answers its Windows path.
std::string WriteInput(const uint8_t* data, size_t size);

// Windows path of a directory `name` in the scratch directory, made if needed.
std::string ScratchWinPath(const char* name);

// Removes everything in the directory, leaving it empty.
void EmptyDirectory(const std::string& path);

// Starts the disk and virtual file layers and the error state, as the
// launcher does (140 disk handles, error reporting on).
void StartLayers();

// Closes every library still open, ends the layers, and checks that no disk
// handle and no memory block outlived the input.
void EndLayers();

// Opens every member of the library through the virtual file layer: reads it
// whole, seeks to its start, middle and end and past it, reads again, asks
// for its size and date, closes it. With `nest`, a member that is itself a
// container is opened as a library nested in this one and walked likewise.
void WalkLibrary(int16_t selector, int nest);

} // namespace txfuzz
