// Line charts for the build-machine tools, drawn with PLplot: a title above
// panels stacked one over the other, each with its own axes, ticks, labels,
// grid and legend, its curves over one shared abscissa, and optionally a band
// of the abscissa shaded. What ends up where on the page is fixed by
// PlotLayout.h, so that a reader of the picture can map values to points.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace plot {

struct Curve {
    std::string label;
    std::vector<double> y;  // one per abscissa; a value that is not finite breaks the line
};

// A stretch of the abscissa marked by shading, with its own legend entry.
struct Band {
    double from = 0.0;
    double to = 0.0;
    std::string label;
};

struct Panel {
    std::string xLabel;
    std::string yLabel;
    std::vector<double> x;  // increasing
    std::vector<Curve> curves;
    std::optional<Band> band;
};

struct Figure {
    std::vector<std::string> title;  // one entry per line
    std::vector<Panel> panels;
};

enum class Format { Svg, Png };

// Svg for a name ending in ".svg", Png for ".png" (either case); none else.
std::optional<Format> formatOf(const std::string& path);

// The picture as the bytes of a file of the format given. Throws
// std::runtime_error when PLplot cannot draw it.
std::string render(const Figure& figure, Format format);

}  // namespace plot
