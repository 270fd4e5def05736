#include "locus_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sstream>

#include "chisq.h"
#include "text.h"

namespace {

// Canvas and plot area, in SVG units.
constexpr double kWidth = 960, kHeight = 580;
constexpr double kLeft = 76, kRight = kWidth - 28, kTop = 112, kBottom = kHeight - 110;

struct Series {
  std::string label, colour;
  bool line;               // dots joined by a line, else dots only
  std::vector<double> y;   // -log10 p per marker; NaN: not shown
};

double MinusLog10(double p) { return -std::log10(p); }

// The upper normal tail from the C library: the results file's own routine
// stops the process on extreme values (a |Z| in the thousands), which a
// results file may hold.
double NormalUpperTail(double z) { return 0.5 * std::erfc(z / std::sqrt(2.0)); }

// The two-sided t tail; the normal tail where the degrees of freedom are too
// many for the t routine (and the two agree).
double TwoSidedT(double t, double dof) {
  return dof <= 1e5 ? qStudentT(t, static_cast<int>(dof)) : 2 * NormalUpperTail(std::fabs(t));
}

// -log10 p of every marker line: the cluster score's and the single-marker tests'.
std::vector<Series> SeriesOf(const ResultsBlock& results) {
  const std::size_t n = results.rows.size();
  Series cluster{results.quantitative ? "cluster Q-score (t)" : "cluster Z-score", "#1f5fbf", true, {}};
  for (std::size_t r = 0; r < n; r++) cluster.y.push_back(results.Value(r, 3));
  if (!results.quantitative) {
    Series single{"single-marker allelic chi-square", "#e07b00", false, {}};
    for (std::size_t r = 0; r < n; r++) single.y.push_back(results.Value(r, 5));
    return {single, cluster};
  }
  Series welch{"single-marker Welch t", "#e07b00", false, {}};
  Series mannWhitney{"single-marker Mann-Whitney Z (one-sided)", "#2a9d3a", false, {}};
  const double nan = std::nan("");
  for (std::size_t r = 0; r < n; r++) {
    const double t = results.Value(r, 5), dof = results.Value(r, 6), z = results.Value(r, 8);
    welch.y.push_back(std::isfinite(t) && dof >= 1 ? MinusLog10(TwoSidedT(t, dof)) : nan);
    mannWhitney.y.push_back(std::isfinite(z) ? MinusLog10(NormalUpperTail(z)) : nan);
  }
  return {welch, mannWhitney, cluster};
}

// Text as SVG may hold it: markup characters escaped; control characters and
// bytes outside ASCII (which need not be valid UTF-8) replaced.
std::string Escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) out += '?';
    else if (c == '&') out += "&amp;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else if (c == '"') out += "&quot;";
    else out += c;
  }
  return out;
}

std::string Fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value == 0 ? 0.0 : value);
  return text;
}

// Tick marks at a round step (1, 2 or 5 times a power of ten), at most nine of them.
struct Ticks {
  double first, step;
  int decimals;
};

Ticks TicksFor(double low, double high) {
  const double rough = (high - low) / 8;
  const double power = std::pow(10, std::floor(std::log10(rough)));
  double step = power;
  for (double m : {2.0, 5.0, 10.0})
    if (step < rough) step = m * power;
  return {std::ceil(low / step) * step, step, std::max(0, -static_cast<int>(std::floor(std::log10(step))))};
}

class Axes {
 public:
  Axes(double xLow, double xHigh, double yHigh) : xLow_(xLow), xHigh_(xHigh), yHigh_(yHigh) {}
  double X(double x) const { return kLeft + (x - xLow_) / (xHigh_ - xLow_) * (kRight - kLeft); }
  // Values beyond the axis are drawn at its ends.
  double Y(double y) const { return kBottom - std::clamp(y, 0.0, yHigh_) / yHigh_ * (kBottom - kTop); }

  void Draw(std::ostream& svg, const std::string& xTitle) const {
    svg << "<g font-size=\"12\" fill=\"#333\">\n";
    const Ticks xt = TicksFor(xLow_, xHigh_), yt = TicksFor(0, yHigh_);
    for (double x = xt.first; x <= xHigh_ + 1e-9 * xt.step; x += xt.step)
      svg << Line(X(x), kBottom, X(x), kBottom + 5, "#333") << Text(X(x), kBottom + 19, Fixed(x, xt.decimals), "middle");
    for (double y = yt.first; y <= yHigh_ + 1e-9 * yt.step; y += yt.step)
      svg << Line(kLeft, Y(y), kRight, Y(y), "#e4e4e4") << Line(kLeft - 5, Y(y), kLeft, Y(y), "#333")
          << Text(kLeft - 8, Y(y) + 4, Fixed(y, yt.decimals), "end");
    svg << "<rect x=\"" << kLeft << "\" y=\"" << kTop << "\" width=\"" << kRight - kLeft << "\" height=\""
        << kBottom - kTop << "\" fill=\"none\" stroke=\"#333\"/>\n"
        << Text((kLeft + kRight) / 2, kBottom + 42, xTitle, "middle", "14")
        << "<text transform=\"translate(" << kLeft - 50 << ' ' << (kTop + kBottom) / 2
        << ") rotate(-90)\" text-anchor=\"middle\" font-size=\"14\">-log10 p</text>\n</g>\n";
  }

  static std::string Line(double x1, double y1, double x2, double y2, const char* colour) {
    std::ostringstream s;
    s << "<line x1=\"" << Fixed(x1, 1) << "\" y1=\"" << Fixed(y1, 1) << "\" x2=\"" << Fixed(x2, 1) << "\" y2=\""
      << Fixed(y2, 1) << "\" stroke=\"" << colour << "\"/>\n";
    return s.str();
  }
  static std::string Text(double x, double y, const std::string& text, const char* anchor, const char* size = nullptr) {
    std::ostringstream s;
    s << "<text x=\"" << Fixed(x, 1) << "\" y=\"" << Fixed(y, 1) << "\" text-anchor=\"" << anchor << '"';
    if (size) s << " font-size=\"" << size << '"';
    s << '>' << Escaped(text) << "</text>\n";
    return s.str();
  }

 private:
  double xLow_, xHigh_, yHigh_;
};

// A series as a path of dots, one per marker; joined by a faint line for
// the cluster score, whose neighbouring positions share their windows.
void DrawSeries(std::ostream& svg, const Series& series, const std::vector<double>& x, const Axes& axes) {
  std::ostringstream line, dots;
  bool joined = false;
  for (std::size_t k = 0; k < x.size(); k++) {
    if (std::isnan(series.y[k])) {
      joined = false;
      continue;
    }
    const std::string at = Fixed(axes.X(x[k]), 1) + ' ' + Fixed(axes.Y(series.y[k]), 1);
    line << (joined ? 'L' : 'M') << at;
    dots << 'M' << at << "h0";
    joined = true;
  }
  if (series.line)
    svg << "<path fill=\"none\" stroke=\"" << series.colour << "\" stroke-opacity=\"0.45\" stroke-width=\"1\" "
        << "stroke-linejoin=\"round\" d=\"" << line.str() << "\"/>\n";
  svg << "<path fill=\"none\" stroke=\"" << series.colour << "\" stroke-linecap=\"round\" stroke-width=\""
      << (series.line ? "3.6" : "4.5\" stroke-opacity=\"0.85") << "\" d=\"" << dots.str() << "\"/>\n";
}

// A dashed line at a best marker, labelled at the top, away from the nearer edge.
void MarkBest(std::ostream& svg, double x, const std::string& label, const std::string& colour, int row) {
  const bool leftHalf = x < (kLeft + kRight) / 2;
  svg << "<line x1=\"" << Fixed(x, 1) << "\" y1=\"" << kTop << "\" x2=\"" << Fixed(x, 1) << "\" y2=\"" << kBottom
      << "\" stroke=\"" << colour << "\" stroke-dasharray=\"6 4\" stroke-width=\"1.2\"/>\n"
      << "<g font-size=\"12\" fill=\"" << colour << "\">"
      << Axes::Text(leftHalf ? x + 5 : x - 5, kTop + 16 + 15 * row, label, leftHalf ? "start" : "end") << "</g>\n";
}

void DrawLegend(std::ostream& svg, const std::vector<Series>& series, int clamped) {
  double x = kLeft;
  const double y = kHeight - 34;
  svg << "<g font-size=\"13\" fill=\"#333\">\n";
  for (const Series& s : series) {
    if (s.line) svg << "<path d=\"M" << x << ' ' << y - 4 << "h22\" stroke=\"" << s.colour << "\" stroke-opacity=\"0.45\"/>\n";
    svg << "<path d=\"M" << x + 11 << ' ' << y - 4 << "h0\" stroke=\"" << s.colour
        << "\" stroke-linecap=\"round\" stroke-width=\"6\"/>\n"
        << Axes::Text(x + 28, y, s.label, "start");
    x += 40 + 7.0 * s.label.size();
  }
  svg << "<path d=\"M" << x << ' ' << y - 4 << "h22\" stroke=\"#555\" stroke-dasharray=\"6 4\"/>\n"
      << Axes::Text(x + 28, y, "best marker", "start");
  if (clamped > 0)
    svg << Axes::Text(kLeft, y + 20, std::to_string(clamped) + (clamped == 1 ? " value" : " values") +
                                         " of p = 0 drawn at the top of the axis", "start");
  svg << "</g>\n";
}

std::string Subtitle(const BestMarker& best, const MarkerTable* markers, std::optional<int> permutations) {
  std::string text = best.statistic + " " + Rounded(best.score) + " at " + MarkerName(markers, best.marker) +
                     ", -log10 p = " + Rounded(best.minusLog10P);
  if (best.permutationP) text += ", " + PermutationText(*best.permutationP, permutations);
  return text;
}

}  // namespace

std::string Rounded(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3g", value == 0 ? 0.0 : value);
  return text;
}

std::string MarkerName(const MarkerTable* markers, int marker) {
  if (!markers) return "marker " + std::to_string(marker);
  const MarkerRow& row = (*markers)[marker];
  return row.chrom + ":" + Grouped(row.pos) + (row.id == "." ? "" : " (" + row.id + ")");
}

std::string PermutationText(double p, std::optional<int> permutations) {
  if (permutations && *permutations <= 0) return "no permutation test";
  if (p > 0 || !std::isfinite(p)) return "permutation p = " + Rounded(p);
  if (permutations) return "permutation p < " + Rounded(1.0 / *permutations) + " (" + std::to_string(*permutations) + " replicates)";
  return "permutation p = 0 (< 1/replicates, or none run)";
}

std::string LocusPlotSvg(const ResultsBlock& results, const MarkerTable* markers, std::optional<int> permutations) {
  const std::vector<Series> series = SeriesOf(results);
  const std::vector<BestMarker> best = BestMarkers(results);
  std::vector<double> x;
  for (std::size_t r = 0; r < results.rows.size(); r++) x.push_back(markers ? (*markers)[r].pos / 1e6 : r);
  const auto [xMin, xMax] = std::minmax_element(x.begin(), x.end());
  const double pad = std::max(0.02 * (*xMax - *xMin), markers ? 0.001 : 0.5);
  double yMax = 1;
  int clamped = 0;
  for (const Series& s : series)
    for (double y : s.y)
      if (std::isfinite(y)) yMax = std::max(yMax, y);
      else if (y > 0) clamped++;
  // -log10 p of a double is at most about 324; a larger value is not one.
  const Axes axes(*xMin - pad, *xMax + pad, std::min(yMax, 1e300) * 1.08);

  std::ostringstream svg;
  svg << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << kHeight
      << "\" viewBox=\"0 0 " << kWidth << ' ' << kHeight << "\" font-family=\"sans-serif\">\n"
      << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n"
      << "<g fill=\"#111\">" << Axes::Text(kLeft, 30, "Predicted locus: " + MarkerName(markers, best[0].marker), "start", "19")
      << "</g>\n<g font-size=\"13\" fill=\"#333\">\n";
  for (std::size_t b = 0; b < best.size(); b++) svg << Axes::Text(kLeft, 52 + 17 * b, Subtitle(best[b], markers, permutations), "start");
  svg << "</g>\n";
  axes.Draw(svg, markers ? "Position on chromosome " + markers->front().chrom + " (Mb)" : "Marker (index in the results file)");
  for (const Series& s : series) DrawSeries(svg, s, x, axes);
  // The cluster's best marker in its colour; single-marker bests in theirs.
  MarkBest(svg, axes.X(x[best[0].marker]), "best cluster", series.back().colour, 0);
  const std::string prefix = "single-marker ";
  for (std::size_t b = 1; b < best.size(); b++)
    MarkBest(svg, axes.X(x[best[b].marker]), "best " + best[b].statistic.substr(prefix.size()), series[b - 1].colour,
             static_cast<int>(b));
  DrawLegend(svg, series, clamped);
  svg << "</svg>\n";
  return svg.str();
}
