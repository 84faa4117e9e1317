#pragma once
// Makes JPEG files for the picture tests with libjpeg's compression side, and
// decodes them back to plain RGB rows as the reference the decoder under test
// must match.

#include <cstdint>
#include <string>
#include <vector>

namespace ormbrook::test {

enum class JpegColours { Grey, Rgb, CmykAdobe };

struct JpegParams {
    int width = 8;
    int height = 8;
    JpegColours colours = JpegColours::Rgb;
    bool progressive = false;
    int restartRows = 0; // restart interval in MCU rows, 0 for none
    int quality = 90;
};

// Pixels: top row first, 1, 3 or 4 bytes each (CMYK inverted, as Adobe stores it).
std::vector<uint8_t> EncodeJpeg(const JpegParams& params, const std::vector<uint8_t>& pixels);

// Gradients with a little noise, so odd sizes exercise every edge of the MCU grid.
std::vector<uint8_t> PatternPixels(int width, int height, int components, uint32_t seed = 1);

struct RgbImage {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb; // top row first, width*3 bytes a row, no padding
};

// libjpeg's own decode of the bytes to RGB rows.
RgbImage ReferenceDecodeRgb(const std::vector<uint8_t>& jpeg);

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);

// A picture of one colour, as the viewer tests find it again in pixels.
void WriteSolidJpeg(const std::string& path, int width, int height, uint8_t red, uint8_t green, uint8_t blue);

} // namespace ormbrook::test
