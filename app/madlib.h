// Binding unit `MADLib`: the MP3 decoder library libmad.so.0, loaded at run time when
// the program starts and released when it ends.
//
// The window's MP3 decoder (an idle component) only checks that the library is there;
// no conversion calls it. The binding looks up the decoder's entry points all at once
// and counts a library that lacks one as not loaded, as the other bindings do.
// Loading and unloading happen on the window thread.
#pragma once

#include <string>

// The file name under which the library is loaded, and the one its message names.
extern const char* const MadLibraryFileName;

// Loads the library unless it is loaded already; a failure leaves `MadLoaded` false.
void LoadMadLibrary();
void UnloadMadLibrary();
bool MadLoaded();

// Changes the file name that the next `LoadMadLibrary` opens; an empty name restores
// the standard one. For tests that need a missing library.
void SetMadLibraryFileNameForTesting(const std::string& FileName);
