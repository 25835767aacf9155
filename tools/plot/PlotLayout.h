// Where a figure puts things, in the picture's own units (pixels of a PNG,
// user units of an SVG, y downwards), which values its axes span and which
// colour each curve of a panel has. Kept apart from the drawing so that
// whoever reads a picture back knows how values map to points.
#pragma once

#include <cmath>
#include <cstddef>
#include <utility>

namespace plot::layout {

constexpr double kWidth = 1100.0;
constexpr double kTitleHeight = 90.0;  // above the first panel
constexpr double kPanelHeight = 300.0;
constexpr double kBottomMargin = 10.0;
// A panel's frame within its height and the page's width: room for tick
// labels and the axis label below and left, for the legend at the right.
constexpr double kFrameLeft = 120.0;
constexpr double kFrameRight = 790.0;
constexpr double kFrameTop = 20.0;
constexpr double kFrameBottom = 240.0;

struct Colour {
    int red, green, blue;
};

// The curves of a panel in turn, again from the first after the last: a
// palette that stays apart for people with the common colour-vision
// deficiencies.
constexpr Colour kCurveColours[] = {{0, 114, 178},  {230, 159, 0}, {0, 158, 115},  {204, 121, 167},
                                    {86, 180, 233}, {213, 94, 0},  {117, 112, 179}};

inline double height(std::size_t panels) {
    return kTitleHeight + static_cast<double>(panels) * kPanelHeight + kBottomMargin;
}

struct Frame {
    double left, right, top, bottom;
};

inline Frame frame(std::size_t panel) {
    const double top = kTitleHeight + static_cast<double>(panel) * kPanelHeight;
    return {kFrameLeft, kFrameRight, top + kFrameTop, top + kFrameBottom};
}

// The span of an axis over values from `least` to `most` (finite, or both
// infinite when there is none): a twentieth of the range added at either
// end so that no curve runs along the frame, a span of 2 around a single
// value, and -1 to 1 when there is no value at all.
inline std::pair<double, double> span(double least, double most) {
    if (!std::isfinite(least) || !std::isfinite(most)) {
        return {-1.0, 1.0};
    }
    if (least == most) {
        return {least - 1.0, most + 1.0};
    }
    // Each end divided first: the range of the largest doubles is no double.
    const double margin = most / 20.0 - least / 20.0;
    if (!std::isfinite(most + margin - (least - margin))) {
        return {least, most};
    }
    return {least - margin, most + margin};
}

// The abscissa spans its values exactly: the first and last points sit on
// the frame.
inline std::pair<double, double> abscissaSpan(double least, double most) {
    return least < most ? std::make_pair(least, most) : span(least, most);
}

}  // namespace plot::layout
