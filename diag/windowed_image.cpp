#include "diag/windowed_image.hpp"

#include <windows.h>

extern "C" {
// The linker's symbol at the image's first byte: its DOS header, as the loader mapped it.
extern const unsigned char __ImageBase[];
}

bool running_image_is_windowed() {
    // The loader has checked these headers before any code of the image ran.
    const auto* dos_header = reinterpret_cast<const IMAGE_DOS_HEADER*>(__ImageBase);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS64*>(__ImageBase + dos_header->e_lfanew);
    return headers->OptionalHeader.Subsystem == IMAGE_SUBSYSTEM_WINDOWS_GUI;
}
