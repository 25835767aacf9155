#include "Plot.h"

#include <plstream.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <vector>

#include "PlotLayout.h"

namespace plot {

namespace {

// Colour map 0: the background, the frame and text, the grid, the band,
// then the curves.
constexpr PLINT kFrameColour = 1;
constexpr PLINT kGridColour = 2;
constexpr PLINT kBandColour = 3;
constexpr PLINT kFirstCurveColour = 4;
constexpr layout::Colour kFixedColours[] = {
    {255, 255, 255}, {0, 0, 0}, {215, 215, 215}, {230, 230, 230}};

void setColours(plstream& pls) {
    std::vector<PLINT> red;
    std::vector<PLINT> green;
    std::vector<PLINT> blue;
    const auto add = [&](const layout::Colour& colour) {
        red.push_back(colour.red);
        green.push_back(colour.green);
        blue.push_back(colour.blue);
    };
    std::for_each(std::begin(kFixedColours), std::end(kFixedColours), add);
    std::for_each(std::begin(layout::kCurveColours), std::end(layout::kCurveColours), add);
    pls.scmap0(red.data(), green.data(), blue.data(), static_cast<PLINT>(red.size()));
}

PLINT curveColour(std::size_t curve) {
    return kFirstCurveColour + static_cast<PLINT>(curve % std::size(layout::kCurveColours));
}

// Text heights relative to PLplot's default, which is large for a page this
// wide.
constexpr PLFLT kTextScale = 0.8;
constexpr PLFLT kHeadingScale = 1.05;

// PLplot reads '#' as the start of an escape sequence; "##" is the character.
std::string literal(const std::string& text) {
    std::string out;
    for (const char c : text) {
        out += c == '#' ? std::string("##") : std::string(1, c);
    }
    return out;
}

// A memory stream for PLplot to write to: PLplot closes the file it is given
// at the end, and a stream in memory can neither fail to open, which PLplot
// answers by ending the program, nor leave a half-written file behind.
class MemoryFile {
  public:
    MemoryFile() : file_(open_memstream(&data_, &size_)) {
        if (file_ == nullptr) {
            throw std::runtime_error("no memory for the picture");
        }
    }
    ~MemoryFile() {
        std::free(data_);
    }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    std::FILE* file() const {
        return file_;
    }
    // Valid once PLplot has closed the file.
    std::string bytes() const {
        return data_ == nullptr ? std::string() : std::string(data_, size_);
    }

  private:
    char* data_ = nullptr;
    std::size_t size_ = 0;
    std::FILE* file_;
};

// PLplot asks on standard input for a device it does not have; it is looked
// up first so that a missing driver is an error instead.
void requireDevice(const char* device) {
    constexpr int kMostDevices = 64;
    const char* menus[kMostDevices] = {};
    const char* names[kMostDevices] = {};
    const char** menuList = menus;
    const char** nameList = names;
    int count = kMostDevices;  // in: the room, out: the devices
    plgDevs(&menuList, &nameList, &count);
    for (int i = 0; i < count; ++i) {
        if (std::string(names[i]) == device) {
            return;
        }
    }
    throw std::runtime_error(std::string("PLplot has no \"") + device +
                             "\" driver here (Debian: plplot-driver-cairo for PNG)");
}

// PLplot's viewport over a rectangle of the picture (y downwards).
void viewport(plstream& pls, double height, const layout::Frame& frame) {
    pls.vpor(frame.left / layout::kWidth, frame.right / layout::kWidth, 1.0 - frame.bottom / height,
             1.0 - frame.top / height);
}

std::pair<double, double> valueRange(const Panel& panel) {
    double least = std::numeric_limits<double>::infinity();
    double most = -least;
    for (const Curve& curve : panel.curves) {
        for (const double y : curve.y) {
            if (std::isfinite(y)) {
                least = std::min(least, y);
                most = std::max(most, y);
            }
        }
    }
    return {least, most};
}

// The points of a run of values as the picture can show them: no more than
// a few per pixel column of the frame. Each column keeps its first and last
// point, so that the line enters and leaves it where it did, and its lowest
// and highest, so that every peak stays; in the order of the abscissa. A run
// of few points is kept whole.
void reduceToColumns(const double* x, const double* y, std::size_t count, double xFrom, double xTo,
                     std::vector<PLFLT>& keptX, std::vector<PLFLT>& keptY) {
    constexpr double kColumns = layout::kFrameRight - layout::kFrameLeft;
    keptX.clear();
    keptY.clear();
    if (static_cast<double>(count) <= 4.0 * kColumns || !(xTo > xFrom)) {
        keptX.assign(x, x + count);
        keptY.assign(y, y + count);
        return;
    }
    const double perUnit = kColumns / (xTo - xFrom);
    std::size_t begin = 0;
    while (begin < count) {
        const double column = std::floor((x[begin] - xFrom) * perUnit);
        std::size_t end = begin + 1;
        std::size_t lowest = begin;
        std::size_t highest = begin;
        while (end < count && std::floor((x[end] - xFrom) * perUnit) == column) {
            lowest = y[end] < y[lowest] ? end : lowest;
            highest = y[end] > y[highest] ? end : highest;
            ++end;
        }
        std::size_t kept[] = {begin, std::min(lowest, highest), std::max(lowest, highest), end - 1};
        for (std::size_t i = 0; i < std::size(kept); ++i) {
            if (i == 0 || kept[i] != kept[i - 1]) {
                keptX.push_back(x[kept[i]]);
                keptY.push_back(y[kept[i]]);
            }
        }
        begin = end;
    }
}

// The curve as lines through its runs of finite values, each reduced to the
// frame's columns; a lone finite value between values that are not is a dot.
void drawCurve(plstream& pls, const std::vector<double>& x, const std::vector<double>& y,
               double xFrom, double xTo) {
    std::vector<PLFLT> keptX;
    std::vector<PLFLT> keptY;
    const std::size_t count = std::min(x.size(), y.size());
    std::size_t begin = 0;
    while (begin < count) {
        while (begin < count && !std::isfinite(y[begin])) {
            ++begin;
        }
        std::size_t end = begin;
        while (end < count && std::isfinite(y[end])) {
            ++end;
        }
        const auto points = static_cast<PLINT>(end - begin);
        if (points == 1) {
            pls.poin(1, &x[begin], &y[begin], 1);
        } else if (points > 1) {
            reduceToColumns(&x[begin], &y[begin], end - begin, xFrom, xTo, keptX, keptY);
            pls.line(static_cast<PLINT>(keptX.size()), keptX.data(), keptY.data());
        }
        begin = end;
    }
}

std::string legendText(const Curve& curve) {
    const auto notFinite =
        std::count_if(curve.y.begin(), curve.y.end(), [](double y) { return !std::isfinite(y); });
    if (notFinite == 0) {
        return literal(curve.label);
    }
    return literal(curve.label) + " (" + std::to_string(notFinite) + " not finite)";
}

void drawLegend(plstream& pls, const Panel& panel) {
    std::vector<std::string> texts;
    std::vector<PLINT> options;
    std::vector<PLINT> colours;
    for (std::size_t i = 0; i < panel.curves.size(); ++i) {
        texts.push_back(legendText(panel.curves[i]));
        options.push_back(PL_LEGEND_LINE);
        colours.push_back(curveColour(i));
    }
    if (panel.band) {
        texts.push_back(literal(panel.band->label));
        options.push_back(PL_LEGEND_COLOR_BOX);
        colours.push_back(kBandColour);
    }
    const std::size_t count = texts.size();
    std::vector<const char*> text;
    for (const std::string& entry : texts) {
        text.push_back(entry.c_str());
    }
    const std::vector<PLINT> frameColours(count, kFrameColour);
    const std::vector<PLINT> solid(count, 1);
    const std::vector<PLINT> patterns(count, 0);
    const std::vector<PLFLT> boxScales(count, 0.8);
    const std::vector<PLFLT> widths(count, 2.0);
    PLFLT width = 0.0;
    PLFLT height = 0.0;
    pls.legend(&width, &height, 0, PL_POSITION_RIGHT | PL_POSITION_OUTSIDE, 0.02, 0.0, 0.05, 0,
               kFrameColour, 1, 0, 0, static_cast<PLINT>(count), options.data(), 0.6, 0.75, 2.0,
               0.0, frameColours.data(), text.data(), colours.data(), patterns.data(),
               boxScales.data(), widths.data(), colours.data(), solid.data(), widths.data(),
               nullptr, nullptr, nullptr, nullptr);
}

void drawPanel(plstream& pls, double height, const Panel& panel, std::size_t index) {
    viewport(pls, height, layout::frame(index));
    const double first = panel.x.empty() ? 0.0 : panel.x.front();
    const double last = panel.x.empty() ? 0.0 : panel.x.back();
    const auto [xFrom, xTo] = layout::abscissaSpan(first, last);
    const auto [least, most] = valueRange(panel);
    const auto [yFrom, yTo] = layout::span(least, most);
    pls.wind(xFrom, xTo, yFrom, yTo);

    if (panel.band) {
        const double from = std::max(panel.band->from, xFrom);
        const double to = std::min(panel.band->to, xTo);
        const PLFLT xs[] = {from, to, to, from};
        const PLFLT ys[] = {yFrom, yFrom, yTo, yTo};
        pls.col0(kBandColour);
        pls.fill(4, xs, ys);
    }
    pls.col0(kGridColour);
    pls.width(1.0);
    pls.box("g", 0.0, 0, "g", 0.0, 0);
    pls.width(2.0);
    for (std::size_t i = 0; i < panel.curves.size(); ++i) {
        pls.col0(curveColour(i));
        drawCurve(pls, panel.x, panel.curves[i].y, xFrom, xTo);
    }
    pls.col0(kFrameColour);
    pls.width(1.0);
    pls.box("bcnst", 0.0, 0, "bcnstv", 0.0, 0);
    pls.mtex("b", 3.2, 0.5, 0.5, literal(panel.xLabel).c_str());
    pls.mtex("l", 5.5, 0.5, 0.5, literal(panel.yLabel).c_str());
    drawLegend(pls, panel);
}

// The lines of the title centred on the page, 22 pixels apart, whatever
// their size.
void drawTitle(plstream& pls, double height, const std::vector<std::string>& lines) {
    viewport(pls, height, {0.0, layout::kWidth, 0.0, layout::kTitleHeight});
    pls.wind(0.0, layout::kWidth, layout::kTitleHeight, 0.0);
    pls.col0(kFrameColour);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        pls.schr(0.0, i == 0 ? kHeadingScale : kTextScale);
        pls.ptex(layout::kWidth / 2, 28.0 + 22.0 * static_cast<double>(i), 1.0, 0.0, 0.5,
                 literal(lines[i]).c_str());
    }
    pls.schr(0.0, kTextScale);
}

}  // namespace

std::optional<Format> formatOf(const std::string& path) {
    std::string end = path.size() >= 4 ? path.substr(path.size() - 4) : std::string();
    std::transform(end.begin(), end.end(), end.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (end == ".svg") {
        return Format::Svg;
    }
    if (end == ".png") {
        return Format::Png;
    }
    return std::nullopt;
}

std::string render(const Figure& figure, Format format) {
    const char* device = format == Format::Svg ? "svg" : "pngcairo";
    requireDevice(device);
    const double height = layout::height(figure.panels.size());
    MemoryFile memory;
    {
        plstream pls;
        pls.sdev(device);
        pls.sfile(memory.file());
        pls.spage(0.0, 0.0, static_cast<PLINT>(layout::kWidth), static_cast<PLINT>(height), 0, 0);
        setColours(pls);
        pls.init();
        // Values as numbers up to six digits, rather than scaled by a power
        // of ten written apart.
        pls.sxax(6, 0);
        pls.syax(6, 0);
        pls.schr(0.0, kTextScale);
        pls.adv(0);
        drawTitle(pls, height, figure.title);
        for (std::size_t i = 0; i < figure.panels.size(); ++i) {
            drawPanel(pls, height, figure.panels[i], i);
        }
    }  // PLplot finishes the picture and closes the file.
    return memory.bytes();
}

}  // namespace plot

// Under LeakSanitizer (the sanitized builds of the tools that link this): the
// font cache that fontconfig keeps for the life of the process once a PNG's
// text is laid out, and the handles of the drivers PLplot loads, are not
// lost memory.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libltdl.so\n";
}

// Nor are they worth a word on standard error, which a user reads.
extern "C" const char* __lsan_default_options() {
    return "print_suppressions=0";
}
