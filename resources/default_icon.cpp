#include "resources/default_icon.hpp"

#include "resources/icon_group.hpp"
#include "resources/png.hpp"

#include <algorithm>
#include <cmath>

namespace {

// Each pixel averages a grid of samples so that edges stay smooth at 16 pixels.
constexpr int samples_per_axis = 4;

// Shapes in a unit square, y downwards.
constexpr double square_margin = 0.0625;
constexpr double corner_radius = 0.2;
constexpr double bar_left = 0.22, bar_right = 0.78, bar_top = 0.22, bar_bottom = 0.38;
constexpr double stem_left = 0.42, stem_right = 0.58, stem_bottom = 0.80;

struct Colour {
    double r, g, b;
};
constexpr Colour top_colour = {38, 150, 160};
constexpr Colour bottom_colour = {18, 92, 108};
constexpr Colour letter_colour = {255, 255, 255};

bool in_rounded_square(double x, double y) {
    double low = square_margin, high = 1.0 - square_margin;
    if (x < low || x > high || y < low || y > high) {
        return false;
    }
    double cx = std::clamp(x, low + corner_radius, high - corner_radius);
    double cy = std::clamp(y, low + corner_radius, high - corner_radius);
    double dx = x - cx, dy = y - cy;
    return dx * dx + dy * dy <= corner_radius * corner_radius;
}

bool in_letter(double x, double y) {
    bool bar = x >= bar_left && x <= bar_right && y >= bar_top && y <= bar_bottom;
    bool stem = x >= stem_left && x <= stem_right && y >= bar_top && y <= stem_bottom;
    return bar || stem;
}

unsigned char channel(double value) {
    return static_cast<unsigned char>(std::clamp(std::lround(value), 0L, 255L));
}

// The pixel [x0, x1] x [y0, y1] against an axis-parallel box: every sample inside, none, or
// some. Samples lie strictly inside the pixel, so a pixel inside the box has all of them in
// it and one apart from the box has none; only the rest need sampling.
enum class Cover { all, none, some };

Cover box_cover(double x0, double y0, double x1, double y1, double left, double top, double right,
                double bottom) {
    if (x0 >= left && x1 <= right && y0 >= top && y1 <= bottom) {
        return Cover::all;
    }
    if (x1 <= left || x0 >= right || y1 <= top || y0 >= bottom) {
        return Cover::none;
    }
    return Cover::some;
}

// The rounded square holds all of a pixel that lies in it clear of the corners' curves.
Cover square_cover(double x0, double y0, double x1, double y1) {
    double low = square_margin, high = 1.0 - square_margin;
    Cover outer = box_cover(x0, y0, x1, y1, low, low, high, high);
    if (outer != Cover::all) {
        return outer;
    }
    bool clear_of_corners =
        box_cover(x0, y0, x1, y1, low + corner_radius, low, high - corner_radius, high) == Cover::all ||
        box_cover(x0, y0, x1, y1, low, low + corner_radius, high, high - corner_radius) == Cover::all;
    return clear_of_corners ? Cover::all : Cover::some;
}

Cover letter_cover(double x0, double y0, double x1, double y1) {
    Cover bar = box_cover(x0, y0, x1, y1, bar_left, bar_top, bar_right, bar_bottom);
    Cover stem = box_cover(x0, y0, x1, y1, stem_left, bar_top, stem_right, stem_bottom);
    if (bar == Cover::all || stem == Cover::all) {
        return Cover::all;
    }
    return bar == Cover::none && stem == Cover::none ? Cover::none : Cover::some;
}

} // namespace

Bytes draw_default_icon(std::uint32_t size) {
    Bytes pixels;
    pixels.reserve(std::size_t{size} * size * 4);
    constexpr double samples = samples_per_axis * samples_per_axis;
    for (std::uint32_t py = 0; py < size; ++py) {
        for (std::uint32_t px = 0; px < size; ++px) {
            int square_hits = 0, letter_hits = 0;
            double x0 = static_cast<double>(px) / size, x1 = (px + 1.0) / size;
            double y0 = static_cast<double>(py) / size, y1 = (py + 1.0) / size;
            Cover square = square_cover(x0, y0, x1, y1);
            Cover letter = letter_cover(x0, y0, x1, y1);
            if (square == Cover::all && letter != Cover::some) {
                square_hits = static_cast<int>(samples);
                letter_hits = letter == Cover::all ? square_hits : 0;
            } else if (square != Cover::none) {
                for (int sy = 0; sy < samples_per_axis; ++sy) {
                    for (int sx = 0; sx < samples_per_axis; ++sx) {
                        double x = (px + (sx + 0.5) / samples_per_axis) / size;
                        double y = (py + (sy + 0.5) / samples_per_axis) / size;
                        if (in_rounded_square(x, y)) {
                            ++square_hits;
                            if (in_letter(x, y)) {
                                ++letter_hits;
                            }
                        }
                    }
                }
            }
            double t = (py + 0.5) / size;
            Colour background = {top_colour.r + (bottom_colour.r - top_colour.r) * t,
                                 top_colour.g + (bottom_colour.g - top_colour.g) * t,
                                 top_colour.b + (bottom_colour.b - top_colour.b) * t};
            double mix = square_hits == 0 ? 0.0 : static_cast<double>(letter_hits) / square_hits;
            pixels.push_back(channel(background.r + (letter_colour.r - background.r) * mix));
            pixels.push_back(channel(background.g + (letter_colour.g - background.g) * mix));
            pixels.push_back(channel(background.b + (letter_colour.b - background.b) * mix));
            pixels.push_back(channel(255.0 * square_hits / samples));
        }
    }
    return pixels;
}

std::vector<Bytes> draw_default_icon_images() {
    std::vector<Bytes> images;
    for (std::uint32_t size : icon_sizes) {
        images.push_back(encode_png_rgba(size, size, draw_default_icon(size)));
    }
    return images;
}
