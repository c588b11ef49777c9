// Paths next to the library file: the queue, credential and history files live in the
// folder of the module that holds this code.
#pragma once

#include <string>

namespace fetchora {

// Full path of the module holding this code: Fetchora.so when loaded as the band
// library, the program itself when the code is linked into a program.
std::string libraryFileName();

// The folder of libraryFileName() with "/" and name appended.
std::string pathInLibraryFolder(const std::string& name);

// Test seam: while set (non-empty), pathInLibraryFolder uses this folder instead.
void setLibraryFolderOverride(const std::string& folder);

} // namespace fetchora
