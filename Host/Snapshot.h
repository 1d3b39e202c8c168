// Pictures of windows as PNG files, for the guides and the help file, and for looking at what a scenario showed.
#pragma once
#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace Host {

// A PNG file of a `width` x `height` picture given as rows of RGB bytes, top row first. The image
// data is stored uncompressed (stored deflate blocks): no library needed, and pictures stay small
// enough for dialogs.
std::string EncodePng(unsigned width, unsigned height, const std::vector<uint8_t>& rgb);

// Writes what `window` shows, frame included, to `pngPath`. Raises VelmorException on failure.
void SnapshotWindow(HWND window, const std::wstring& pngPath);

}  // namespace Host
