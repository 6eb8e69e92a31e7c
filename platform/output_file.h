// The output file both classes' SaveToFile write (output_file.cpp) and the directory check of the
// tool's message (output_directory.cpp): one check of the name, alike on every system, then the
// open through the active file calls (platform/file_calls.h).
#pragma once

#include <cstddef>

#include "platform/platform.h"

namespace platform {

// The one check of a name SaveToFile is given, before anything is made or opened, alike on every
// system: S_OK for a name opened as the very file named on a disk; E_INVALIDARG for none (empty),
// a NUL or an unpaired surrogate inside, a component that ends in a dot or a space (Windows drops
// them) or holds a ':' (a stream), a device name as a component ("NUL", "dir\com1.wav"), the
// device and object namespaces (\\.\ and \\?\ but for \\?\X:\ drive paths, \??\), and the pipes
// and mailslots of a share (\\host\pipe\x). Backslash and slash both separate.
HRESULT CheckOutputName(const OLECHAR* name, UINT length);
// Opens the name for writing through the active file calls, creating or emptying the file: on
// Windows by its exact UTF-16 text, elsewhere by its UTF-8 form. E_FAIL when it cannot be opened;
// E_INVALIDARG (and closed again) when it names no disk file but a device such as NUL or COM1, on
// Windows.
HRESULT OpenOutputFile(const OLECHAR* name, int* handle);
// OpenOutputFile, then all `size` bytes, then the close: OpenOutputFile's refusals, or E_FAIL when a
// write or the close fails (the file then holds what was written).
HRESULT WriteNewFile(const OLECHAR* name, const void* data, std::size_t size);
// Whether the directory a file of this name would be made in exists (true for a bare name: the
// current directory), for a message that says why the file could not be made.
bool OutputDirectoryExists(const OLECHAR* name);
}  // namespace platform
