// Writes RGB pictures as PNG files through libpng.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// `pixels` holds width x height values of 0xRRGGBB, row by row. Throws
// std::runtime_error when the file cannot be written.
void writePng(const std::string& path, int width, int height, const std::vector<uint32_t>& pixels);
