#include "locus_plot.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <sstream>
#include <unordered_set>

#include "adjusted_scan.h"
#include "chisq.h"
#include "text.h"

namespace {

// Canvas and the two panels over one position axis, in SVG units; the right
// margin holds the recombination-rate axis.
constexpr double kWidth = 960, kHeight = 800;
constexpr double kLeft = 76, kRight = kWidth - 76;
struct Panel {
  double top, bottom;
};
constexpr Panel kTestsPanel{128, 396}, kClusterPanel{436, 656};
constexpr double kGenomeWide = 7.30103;  // -log10 5e-8
constexpr double kThinCell = 2.0;        // points closer than this in both directions are drawn once

const char* const kClusterColour = "#1f5fbf";
const char* const kSingleColour = "#e07b00";      // single-marker points without r²
const char* const kRankColour = "#8c6d31";        // Mann-Whitney squares
const char* const kLeadColour = "#7b3294";
const char* const kRateColour = "#3b8bc2";
const char* const kGenomeWideColour = "#b22222";
const char* const kNoLdColour = "#9a9a9a";
const char* const kBehindColour = "#c8c8c8";  // the classic scores under adjusted ones
// r² with the predicted marker: below 0.2, 0.2-0.4, ..., 0.8 and above.
const char* const kLdColours[] = {"#253494", "#74a9cf", "#2ca25f", "#fc8d59", "#d7301f"};

struct Series {
  std::string label;
  const char* colour;
  bool squares;            // square points, else round ones
  bool byLd;               // coloured by r² when haplotypes are given
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

// The degrees of freedom of the pooled t: haplotypes - 2 when they are known,
// else those under which the summary's best t has the summary's p-value (its
// tail thins as they grow); 0 when neither tells.
double PooledDegreesOfFreedom(const ResultsBlock& results, const LocusPlotOptions& options) {
  if (options.haplotypes && !options.haplotypes->empty()) return static_cast<double>(options.haplotypes->front().size()) - 2;
  const double t = results.summary[5], minusLog10P = results.summary[6];
  if (!std::isfinite(t) || t == 0 || !std::isfinite(minusLog10P)) return 0;
  double low = 1, high = 1e5;
  if (MinusLog10(TwoSidedT(t, low)) > minusLog10P) return 0;
  while (high - low > 1) {
    const double middle = std::floor((low + high) / 2);
    (MinusLog10(TwoSidedT(t, middle)) < minusLog10P ? low : high) = middle;
  }
  return high;
}

// -log10 p of the single-marker tests the summary names, in its order.
std::vector<Series> SingleMarkerSeries(const ResultsBlock& results, const LocusPlotOptions& options) {
  const std::size_t n = results.rows.size();
  if (!results.quantitative) {
    Series chiSquare{"allelic chi-square", kSingleColour, false, true, {}};
    for (std::size_t r = 0; r < n; r++) chiSquare.y.push_back(results.Value(r, 5));
    return {chiSquare};
  }
  const double dof = PooledDegreesOfFreedom(results, options), nan = std::nan("");
  Series pooled{"pooled t", kSingleColour, false, true, {}};
  Series mannWhitney{"Mann-Whitney Z (one-sided)", kRankColour, true, false, {}};
  for (std::size_t r = 0; r < n; r++) {
    const double t = results.Value(r, 4), z = results.Value(r, 8);
    pooled.y.push_back(std::isfinite(t) && dof >= 1 ? MinusLog10(TwoSidedT(t, dof)) : nan);
    mannWhitney.y.push_back(std::isfinite(z) ? MinusLog10(NormalUpperTail(z)) : nan);
  }
  return {pooled, mannWhitney};
}

// r² of every marker with the lead marker; NaN where either is monomorphic.
std::vector<double> RSquaredWith(const std::vector<BitRow>& haplotypes, int lead) {
  const BitRow& a = haplotypes[lead];
  const double n = static_cast<double>(a.size());
  long onesOfA = 0;
  for (std::uint64_t word : a.Words()) onesOfA += std::popcount(word);
  const double pa = onesOfA / n;
  std::vector<double> r2;
  for (const BitRow& b : haplotypes) {
    long both = 0, ones = 0;
    for (std::size_t w = 0; w < b.Words().size(); w++) {
      ones += std::popcount(b.Words()[w]);
      both += std::popcount(a.Words()[w] & b.Words()[w]);
    }
    const double pb = ones / n, d = both / n - pa * pb, spread = pa * (1 - pa) * pb * (1 - pb);
    r2.push_back(spread > 0 ? d * d / spread : std::nan(""));
  }
  return r2;
}

// The shade of a point: an r² bin (0 to 4), 5 for no r², 6 for the series' own colour.
int ShadeOf(const Series& series, const std::vector<double>* r2, std::size_t k) {
  if (!series.byLd || !r2) return 6;
  return std::isnan((*r2)[k]) ? 5 : std::clamp(static_cast<int>((*r2)[k] * 5), 0, 4);
}

// The length of the valid UTF-8 sequence at text[at], or 0.
std::size_t Utf8Length(const std::string& text, std::size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  const std::size_t length = lead >= 0xf0 && lead < 0xf5 ? 4 : lead >= 0xe0 ? 3 : lead >= 0xc2 && lead < 0xe0 ? 2 : 0;
  if (length == 0 || at + length > text.size()) return 0;
  for (std::size_t k = 1; k < length; k++)
    if ((static_cast<unsigned char>(text[at + k]) & 0xc0) != 0x80) return 0;
  return length;
}

// Text as SVG may hold it: markup characters escaped; control characters and
// bytes that are not valid UTF-8 replaced.
std::string Escaped(const std::string& text) {
  std::string out;
  for (std::size_t k = 0; k < text.size(); k++) {
    const char c = text[k];
    if (static_cast<unsigned char>(c) >= 0x80) {
      const std::size_t length = Utf8Length(text, k);
      out += length ? text.substr(k, length) : "?";
      k += length ? length - 1 : 0;
    } else if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) out += '?';
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

std::string Line(double x1, double y1, double x2, double y2, const char* colour, const char* extra = "") {
  return "<line x1=\"" + Fixed(x1, 1) + "\" y1=\"" + Fixed(y1, 1) + "\" x2=\"" + Fixed(x2, 1) + "\" y2=\"" +
         Fixed(y2, 1) + "\" stroke=\"" + colour + "\"" + extra + "/>\n";
}

std::string Text(double x, double y, const std::string& text, const char* anchor, const char* attributes = "") {
  return "<text x=\"" + Fixed(x, 1) + "\" y=\"" + Fixed(y, 1) + "\" text-anchor=\"" + anchor + "\"" + attributes + ">" +
         Escaped(text) + "</text>\n";
}

// Where a text or a line lies, roughly.
struct Box {
  double left, right, top, bottom;
  bool Crosses(const Box& other) const {
    return left < other.right && other.left < right && top < other.bottom && other.top < bottom;
  }
};

// A line of text of the font size, anchored at its start.
Box TextBox(double x, double baseline, std::size_t characters, double size) {
  return {x, x + 0.55 * size * characters, baseline - 0.8 * size, baseline + 0.25 * size};
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

template <class Draw>
void ForEachTick(double low, double high, Draw draw) {
  const Ticks t = TicksFor(low, high);
  for (double v = t.first; v <= high + 1e-9 * t.step; v += t.step) draw(v, Fixed(v, t.decimals));
}

// A panel's scale: the shared x axis, and -log10 p from 0 to its top.
class Scale {
 public:
  Scale(double xLow, double xHigh, Panel panel, double yHigh)
      : xLow_(xLow), xHigh_(xHigh), panel_(panel), yHigh_(yHigh) {}
  double X(double x) const { return kLeft + (x - xLow_) / (xHigh_ - xLow_) * (kRight - kLeft); }
  // Values beyond the axis are drawn at its ends.
  double Y(double y) const {
    return panel_.bottom - std::clamp(y, 0.0, yHigh_) / yHigh_ * (panel_.bottom - panel_.top);
  }
  const Panel& Area() const { return panel_; }

  // The frame, grid and ticks; the x tick labels under the lower panel only.
  void Draw(std::ostream& svg, const std::string& title, bool xLabels) const {
    svg << "<g font-size=\"12\" fill=\"#333\">\n";
    ForEachTick(xLow_, xHigh_, [&](double x, const std::string& label) {
      svg << Line(X(x), panel_.bottom, X(x), panel_.bottom + 5, "#333");
      if (xLabels) svg << Text(X(x), panel_.bottom + 19, label, "middle");
    });
    ForEachTick(0, yHigh_, [&](double y, const std::string& label) {
      svg << Line(kLeft, Y(y), kRight, Y(y), "#e4e4e4") << Line(kLeft - 5, Y(y), kLeft, Y(y), "#333")
          << Text(kLeft - 8, Y(y) + 4, label, "end");
    });
    svg << "<rect x=\"" << kLeft << "\" y=\"" << panel_.top << "\" width=\"" << kRight - kLeft << "\" height=\""
        << panel_.bottom - panel_.top << "\" fill=\"none\" stroke=\"#333\"/>\n"
        << Text(kLeft + 8, panel_.top + 16, title, "start", " font-size=\"13\" font-weight=\"bold\"")
        << "<text transform=\"translate(" << kLeft - 50 << ' ' << (panel_.top + panel_.bottom) / 2
        << ") rotate(-90)\" text-anchor=\"middle\" font-size=\"14\">-log10 p</text>\n</g>\n";
  }

  // A horizontal line at a -log10 p, labelled at the right end; given taken,
  // the places of the line and its label join it.
  void Level(std::ostream& svg, double y, const char* colour, const char* dashes, const std::string& label,
             std::vector<Box>* taken) const {
    if (y > yHigh_) return;
    if (taken) {
      const Box text = TextBox(0, Y(y) - 4, label.size(), 11);
      taken->push_back({kRight - 6 - text.right, kRight - 6, text.top, text.bottom});
      taken->push_back({kLeft, kRight, Y(y) - 1, Y(y) + 1});
    }
    svg << Line(kLeft, Y(y), kRight, Y(y), colour, (std::string(" stroke-dasharray=\"") + dashes + "\"").c_str())
        << Text(kRight - 6, Y(y) - 4, label, "end", (std::string(" font-size=\"11\" fill=\"") + colour + "\"").c_str());
  }

 private:
  double xLow_, xHigh_;
  Panel panel_;
  double yHigh_;
};

// The top of a panel's axis: room for every finite value and the lines drawn.
double AxisTop(const std::vector<const std::vector<double>*>& values, double least, int& clamped) {
  double top = least;
  for (const std::vector<double>* v : values)
    for (double y : *v)
      if (std::isfinite(y)) top = std::max(top, y);
      else if (y > 0) clamped++;
  // -log10 p of a double is at most about 324; a larger value is not one.
  return std::min(top, 1e300) * 1.15;  // the top line clear of the panel's title
}

// Drops points that would be drawn over a point already drawn of the same look.
class Thinning {
 public:
  bool Fresh(int look, double x, double y) {
    const long long cell = (static_cast<long long>(look) * 4096 + std::lround(x / kThinCell)) * 4096 + std::lround(y / kThinCell);
    return seen_.insert(cell).second;
  }

 private:
  std::unordered_set<long long> seen_;
};

// Points in one path per colour: round or square dots.
void DrawPoints(std::ostream& svg, const Series& series, const std::vector<double>& x, const Scale& scale,
                const std::vector<double>* r2, Thinning& thinning, int look) {
  std::map<std::string, std::string> paths;
  for (std::size_t k = 0; k < x.size(); k++) {
    if (std::isnan(series.y[k])) continue;
    const double px = scale.X(x[k]), py = scale.Y(series.y[k]);
    const int shade = ShadeOf(series, r2, k);
    const char* colour = shade < 5 ? kLdColours[shade] : shade == 5 ? kNoLdColour : series.colour;
    if (!thinning.Fresh(look * 8 + shade, px, py)) continue;
    (paths[colour] += 'M' + Fixed(px, 1) + ' ' + Fixed(py, 1)) += "h0";
  }
  for (const auto& [colour, d] : paths)
    svg << "<path fill=\"none\" stroke=\"" << colour << "\" stroke-linecap=\"" << (series.squares ? "square" : "round")
        << "\" stroke-width=\"" << (series.squares ? "3" : "4.5") << "\" stroke-opacity=\"" << (series.squares ? "0.6" : "0.85")
        << "\" d=\"" << d << "\"/>\n";
}

// The cluster score as a line through every position: within one unit of x
// only the first, lowest, highest and last points shape it.
std::string ThinnedLine(const std::vector<double>& x, const std::vector<double>& y, const Scale& scale) {
  std::string d;
  std::vector<std::size_t> column;
  bool joined = false;
  auto flush = [&] {
    if (column.empty()) return;
    std::vector<std::size_t> keep = {column.front(), column.back()};
    keep.push_back(*std::min_element(column.begin(), column.end(), [&](auto a, auto b) { return y[a] < y[b]; }));
    keep.push_back(*std::max_element(column.begin(), column.end(), [&](auto a, auto b) { return y[a] < y[b]; }));
    std::sort(keep.begin(), keep.end());
    keep.erase(std::unique(keep.begin(), keep.end()), keep.end());
    for (std::size_t k : keep) {
      d += (joined ? 'L' : 'M') + Fixed(scale.X(x[k]), 1) + ' ' + Fixed(scale.Y(y[k]), 1);
      joined = true;
    }
    column.clear();
  };
  for (std::size_t k = 0; k < x.size(); k++) {
    if (std::isnan(y[k])) {
      flush();
      joined = false;
      continue;
    }
    if (!column.empty() && std::floor(scale.X(x[k])) != std::floor(scale.X(x[column.front()]))) flush();
    column.push_back(k);
  }
  flush();
  return d;
}

// The recombination rate (cM/Mb) over about 150 even stretches of the
// markers' span, from their genetic positions; empty when they are all 0.
struct RateCurve {
  std::vector<double> mb, rate;
  double top = 0;
};

RateCurve RatesOf(const MarkerTable& markers) {
  std::vector<std::pair<double, double>> mbCm;
  for (const MarkerRow& m : markers) {
    double cm = 0;
    if (ParseDouble(m.cm, cm)) mbCm.emplace_back(m.pos / 1e6, cm);
  }
  RateCurve curve;
  if (mbCm.size() < 2 || mbCm.back().first <= mbCm.front().first || mbCm.back().second <= mbCm.front().second) return curve;
  auto cmAt = [&](double mb) {
    auto after = std::upper_bound(mbCm.begin(), mbCm.end(), mb, [](double v, const auto& p) { return v < p.first; });
    if (after == mbCm.begin()) return after->second;
    if (after == mbCm.end()) return mbCm.back().second;
    const auto& [mb1, cm1] = *(after - 1);
    const auto& [mb2, cm2] = *after;
    return mb2 > mb1 ? cm1 + (cm2 - cm1) * (mb - mb1) / (mb2 - mb1) : cm2;
  };
  const int stretches = 150;
  const double from = mbCm.front().first, width = (mbCm.back().first - from) / stretches;
  for (int k = 0; k < stretches; k++) {
    const double low = from + k * width;
    curve.mb.push_back(low + width / 2);
    curve.rate.push_back((cmAt(low + width) - cmAt(low)) / width);
    curve.top = std::max(curve.top, curve.rate.back());
  }
  curve.top *= 1.08;
  return curve;
}

// The rate as a line over the upper panel, with its axis on the right.
void DrawRates(std::ostream& svg, const RateCurve& curve, const Scale& scale) {
  const Panel& p = scale.Area();
  auto y = [&](double rate) { return p.bottom - rate / curve.top * (p.bottom - p.top); };
  std::string d;
  for (std::size_t k = 0; k < curve.mb.size(); k++)
    d += (k ? 'L' : 'M') + Fixed(scale.X(curve.mb[k]), 1) + ' ' + Fixed(y(curve.rate[k]), 1);
  svg << "<path fill=\"none\" stroke=\"" << kRateColour << "\" stroke-width=\"1.2\" stroke-opacity=\"0.8\" d=\"" << d
      << "\"/>\n<g font-size=\"12\" fill=\"" << kRateColour << "\">\n";
  ForEachTick(0, curve.top, [&](double rate, const std::string& label) {
    svg << Line(kRight, y(rate), kRight + 5, y(rate), kRateColour) << Text(kRight + 8, y(rate) + 4, label, "start");
  });
  svg << "<text transform=\"translate(" << kRight + 52 << ' ' << (p.top + p.bottom) / 2
      << ") rotate(90)\" text-anchor=\"middle\" font-size=\"13\">recombination rate (cM/Mb)</text>\n</g>\n";
}

std::string Diamond(double x, double y) {
  return "<path d=\"M" + Fixed(x, 1) + ' ' + Fixed(y - 7, 1) + "l7 7l-7 7l-7 -7z\" fill=\"" + kLeadColour +
         "\" stroke=\"white\" stroke-width=\"1\"/>\n";
}

// A dashed line at a marker over a panel, labelled at its top, away from the
// nearer edge; given the places of labels already drawn, the label moves down
// rows until it is clear of them, and its place joins them.
void MarkMarker(std::ostream& svg, const Scale& scale, double x, const std::string& label, const char* colour, int row,
                std::vector<Box>* taken) {
  const Panel& p = scale.Area();
  const bool leftHalf = x < (kLeft + kRight) / 2;
  double y = p.top + 32 + 14 * row;
  if (taken) {
    const double width = TextBox(0, 0, label.size(), 12).right, from = leftHalf ? x + 5 : x - 5 - width;
    auto crossing = [&] {
      return std::any_of(taken->begin(), taken->end(), [&](const Box& box) { return box.Crosses(TextBox(from, y, label.size(), 12)); });
    };
    while (crossing()) y += 14;
    taken->push_back(TextBox(from, y, label.size(), 12));
  }
  svg << Line(x, p.top, x, p.bottom, colour, " stroke-dasharray=\"6 4\" stroke-width=\"1.2\"")
      << Text(leftHalf ? x + 5 : x - 5, y, label, leftHalf ? "start" : "end",
              (std::string(" font-size=\"12\" fill=\"") + colour + "\"").c_str());
}

// One legend entry: a sample drawn by the caller's code at (x, y), then the label.
struct Legend {
  std::ostream& svg;
  double x = kLeft, y;
  void Entry(const std::string& sample, const std::string& label) {
    svg << sample << Text(x + 26, y + 4, label, "start");
    x += 38 + 6.6 * label.size();
  }
  std::string Dot(const char* colour, bool square = false) const {
    return "<path d=\"M" + Fixed(x + 10, 1) + ' ' + Fixed(y, 1) + "h0\" stroke=\"" + colour + "\" stroke-linecap=\"" +
           (square ? "square" : "round") + "\" stroke-width=\"7\"/>\n";
  }
  std::string Stroke(const char* colour, const char* dashes = "none", const char* width = "1.5") const {
    return "<path d=\"M" + Fixed(x, 1) + ' ' + Fixed(y, 1) + "h20\" stroke=\"" + colour + "\" stroke-width=\"" + width +
           "\" stroke-dasharray=\"" + dashes + "\"/>\n";
  }
  // A new row when the label would run past the panels' right edge (the
  // text is narrower than the room an entry takes).
  void Room(const std::string& label) {
    if (x > kLeft && x + 26 + 6.0 * label.size() > kRight) NextRow();
  }
  void NextRow() {
    x = kLeft;
    y += 22;
  }
};

std::string Subtitle(const BestMarker& best, const MarkerTable* markers, std::optional<int> permutations) {
  std::string text = best.statistic + " " + Rounded(best.score) + " at " + MarkerName(markers, best.marker) +
                     ", -log10 p = " + Rounded(best.minusLog10P);
  if (best.permutationP) text += ", " + PermutationText(*best.permutationP, permutations);
  return text;
}

std::string PositionTitle(const MarkerTable* markers, const std::string& build) {
  if (!markers) return "Marker (index in the results file)";
  return "Position on chromosome " + markers->front().chrom + " (Mb" + (build.empty() ? "" : ", " + build) + ")";
}

// A marker marked in a panel besides the predicted one.
struct Mark {
  int marker;
  std::string label;
  const char* colour;
};

// What one panel draws: its series, the first on top with a diamond at the
// predicted marker; under an adjusted score, the classic one in grey.
struct PanelContent {
  std::string title;
  std::vector<Series> series;
  std::vector<double> behind;       // -log10 p per marker, or empty
  std::optional<double> threshold;  // -log10 p that 5% of the replicates' maxima reach
  std::vector<Mark> marks;
};

struct PlotContent {
  PanelContent tests, cluster;
  std::vector<BestMarker> subtitles;
  std::string behindLabel;  // what the grey points are; empty without them
  std::string thresholdLabel;
  std::string leadNote;     // after "predicted": which scan predicts it, when the plot shows another
};

Series ClusterSeries(const ResultsBlock& results) {
  Series cluster{"cluster score", kClusterColour, false, false, {}};
  for (std::size_t r = 0; r < results.rows.size(); r++) cluster.y.push_back(results.Value(r, 3));
  return cluster;
}

PlotContent ClassicContent(const ResultsBlock& results, const LocusPlotOptions& options) {
  PlotContent content{{"Single-marker tests", SingleMarkerSeries(results, options), {}, std::nullopt, {}},
                      {"Cluster score", {ClusterSeries(results)}, {}, options.permutationThreshold, {}},
                      BestMarkers(results), "", "permutation 5% threshold", ""};
  for (std::size_t b = 1; b < content.subtitles.size(); b++) {
    const Series& test = content.tests.series[b - 1];
    content.tests.marks.push_back({content.subtitles[b].marker, "best " + test.label, test.colour});
  }
  return content;
}

Series AdjustedSeries(const std::string& label, const char* colour, bool byLd, const std::vector<double>& z) {
  return {label, colour, false, byLd, TwoSidedMinusLog10P(z)};
}

std::optional<double> AdjustedThreshold(const std::vector<double>& maxima) {
  const std::optional<double> z = FivePercentMaximum(maxima);
  return z ? std::optional<double>(TwoSidedMinusLog10P(*z)) : std::nullopt;
}

// The covariates as a panel title can hold them: a long list cut after a comma.
std::string ShortCovariates(const std::string& covariates) {
  const std::size_t room = 48;
  if (covariates.size() <= room) return covariates;
  const std::size_t comma = covariates.rfind(',', room - 4);
  return covariates.substr(0, comma == std::string::npos ? room - 4 : comma) + ", ...";
}

// The adjusted scores in both panels, the classic first test and cluster
// score behind them; the subtitles give the adjusted bests, then the classic one.
PlotContent AdjustedContent(const ResultsBlock& results, const LocusPlotOptions& options) {
  const AdjustedScanResult& adjusted = *options.adjusted;
  const std::string adjustedFor = ", adjusted for " + ShortCovariates(options.covariates);
  const Series classicTest = SingleMarkerSeries(results, options).front();
  PlotContent content{
      {"Single-marker test" + adjustedFor,
       {AdjustedSeries("adjusted single-marker test", kSingleColour, true, adjusted.singleZ)},
       classicTest.y, AdjustedThreshold(adjusted.singleMaxima), {}},
      {"Cluster score" + adjustedFor, {AdjustedSeries("adjusted cluster score", kClusterColour, false, adjusted.clusterZ)},
       ClusterSeries(results).y, AdjustedThreshold(adjusted.clusterMaxima), {}},
      {}, "unadjusted " + classicTest.label + " and cluster score", "permutation 5% threshold (adjusted replicates)",
      " (unadjusted)"};
  struct Best {
    const char* statistic;
    const BestPosition& best;
    const std::vector<double>& z;
    std::optional<double> permutationP;
    PanelContent& panel;
    const char* colour;
  };
  for (const Best& b : {Best{"adjusted cluster Z", adjusted.cluster, adjusted.clusterZ, adjusted.clusterP, content.cluster, kClusterColour},
                        Best{"adjusted single-marker Z", adjusted.single, adjusted.singleZ, adjusted.singleP, content.tests, kSingleColour}}) {
    if (b.best.pos < 0) continue;
    const double z = b.z[b.best.pos];
    content.subtitles.push_back({b.statistic, b.best.pos, z, TwoSidedMinusLog10P(z), b.permutationP});
    b.panel.marks.push_back({b.best.pos, "best adjusted", b.colour});
  }
  BestMarker classic = BestMarkers(results)[0];
  classic.statistic = "unadjusted " + classic.statistic;
  content.subtitles.push_back(classic);
  return content;
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

std::string LocusPlotSvg(const ResultsBlock& results, const MarkerTable* markers, const LocusPlotOptions& options) {
  const PlotContent content = options.adjusted ? AdjustedContent(results, options) : ClassicContent(results, options);
  const int lead = BestMarkers(results)[0].marker;
  std::vector<double> x;
  for (std::size_t r = 0; r < results.rows.size(); r++) x.push_back(markers ? (*markers)[r].pos / 1e6 : r);
  const auto [xMin, xMax] = std::minmax_element(x.begin(), x.end());
  const double pad = std::max(0.02 * (*xMax - *xMin), markers ? 0.001 : 0.5), xLow = *xMin - pad, xHigh = *xMax + pad;
  std::optional<std::vector<double>> r2;
  if (options.haplotypes && options.haplotypes->size() == x.size()) r2 = RSquaredWith(*options.haplotypes, lead);

  int clamped = 0;
  auto scaleOf = [&](const PanelContent& panel, Panel area) {
    std::vector<const std::vector<double>*> values;
    for (const Series& s : panel.series) values.push_back(&s.y);
    values.push_back(&panel.behind);
    return Scale(xLow, xHigh, area, AxisTop(values, std::max(kGenomeWide, panel.threshold.value_or(0)), clamped));
  };
  const Scale above = scaleOf(content.tests, kTestsPanel), below = scaleOf(content.cluster, kClusterPanel);
  const std::pair<const PanelContent*, const Scale*> panels[] = {{&content.tests, &above}, {&content.cluster, &below}};
  // Per panel, where its lines' labels and lines lie, for the marker labels
  // to keep clear of them.
  std::vector<Box> labels[2];
  auto labelsOf = [&](int k) { return &labels[k]; };

  std::ostringstream svg;
  svg << Text(kLeft, 30, "Predicted locus" + content.leadNote + ": " + MarkerName(markers, lead), "start", " font-size=\"19\" fill=\"#111\"")
      << "<g font-size=\"13\" fill=\"#333\">\n";
  for (std::size_t b = 0; b < content.subtitles.size(); b++)
    svg << Text(kLeft, 52 + 17 * b, Subtitle(content.subtitles[b], markers, options.permutations), "start");
  svg << "</g>\n";
  if (!options.credibleSet.empty()) {
    const auto [first, last] = std::minmax_element(options.credibleSet.begin(), options.credibleSet.end());
    const double from = above.X(x[*first]) - 2, to = above.X(x[*last]) + 2;
    svg << "<rect x=\"" << Fixed(from, 1) << "\" y=\"" << kTestsPanel.top << "\" width=\"" << Fixed(to - from, 1)
        << "\" height=\"" << kClusterPanel.bottom - kTestsPanel.top << "\" fill=\"#ffe9a8\" fill-opacity=\"0.7\"/>\n";
  }
  for (const auto& [panel, scale] : panels) scale->Draw(svg, panel->title, scale == &below);
  svg << Text((kLeft + kRight) / 2, kClusterPanel.bottom + 42, PositionTitle(markers, options.build), "middle",
              " font-size=\"14\" fill=\"#333\"");
  const RateCurve rates = markers ? RatesOf(*markers) : RateCurve();
  if (rates.top > 0) DrawRates(svg, rates, above);
  for (int k = 0; k < 2; k++) panels[k].second->Level(svg, kGenomeWide, kGenomeWideColour, "8 4", "p = 5e-8", labelsOf(k));
  for (int k = 0; k < 2; k++)
    if (panels[k].first->threshold)
      panels[k].second->Level(svg, *panels[k].first->threshold, "#555", "2 3", "permutation 5%", labelsOf(k));

  Thinning thinning;
  for (int k = 0; k < 2; k++)
    if (!panels[k].first->behind.empty())
      DrawPoints(svg, {"", kBehindColour, false, false, panels[k].first->behind}, x, *panels[k].second, nullptr, thinning, 8 + k);
  // The first test, coloured by r², over the others.
  const std::vector<Series>& tests = content.tests.series;
  for (std::size_t t = tests.size(); t-- > 0;)
    DrawPoints(svg, tests[t], x, above, r2 ? &*r2 : nullptr, thinning, static_cast<int>(t));
  const Series& cluster = content.cluster.series.front();
  svg << "<path fill=\"none\" stroke=\"" << kClusterColour << "\" stroke-opacity=\"0.5\" stroke-linejoin=\"round\" d=\""
      << ThinnedLine(x, cluster.y, below) << "\"/>\n";
  DrawPoints(svg, cluster, x, below, nullptr, thinning, 7);

  // The predicted marker over both panels, a diamond on its points of each
  // panel's first series; the panels' other best markers.
  for (int k = 0; k < 2; k++)
    MarkMarker(svg, *panels[k].second, panels[k].second->X(x[lead]), "predicted" + content.leadNote, kLeadColour, 0,
               labelsOf(k));
  for (const auto& [panel, scale] : panels)
    if (!std::isnan(panel->series.front().y[lead]))
      svg << Diamond(scale->X(x[lead]), scale->Y(panel->series.front().y[lead]));
  for (int k = 0; k < 2; k++)
    for (std::size_t m = 0; m < panels[k].first->marks.size(); m++) {
      const Mark& mark = panels[k].first->marks[m];
      if (mark.marker != lead)
        MarkMarker(svg, *panels[k].second, panels[k].second->X(x[mark.marker]), mark.label, mark.colour,
                   static_cast<int>(m + 1), labelsOf(k));
    }

  svg << "<g font-size=\"12\" fill=\"#333\">\n";
  Legend legend{svg, kLeft, kClusterPanel.bottom + 70};
  if (r2) {
    svg << Text(legend.x, legend.y + 4, "r² with the predicted marker:", "start");
    legend.x += 178;
    const char* bins[] = {"< 0.2", "0.2-0.4", "0.4-0.6", "0.6-0.8", ">= 0.8"};
    for (int k = 0; k < 5; k++) legend.Entry(legend.Dot(kLdColours[k]), bins[k]);
    legend.NextRow();
  }
  // The entries from here on start a new row where they would not fit.
  auto entry = [&](const std::function<std::string()>& sample, const std::string& label) {
    legend.Room(label);
    legend.Entry(sample(), label);
  };
  entry([&] { return Diamond(legend.x + 10, legend.y); }, "predicted marker");
  for (const Series& s : tests)
    entry([&] { return legend.Dot(s.byLd && r2 ? kNoLdColour : s.colour, s.squares); },
          s.label + (s.byLd && r2 ? " (coloured by r²; grey: no r²)" : ""));
  entry([&] { return legend.Dot(kClusterColour); }, cluster.label);
  legend.NextRow();
  if (!content.behindLabel.empty()) entry([&] { return legend.Dot(kBehindColour); }, content.behindLabel);
  struct LineSample {
    const char *colour, *dashes, *width;
    std::string label;
  };
  std::vector<LineSample> strokes = {{kGenomeWideColour, "8 4", "1.5", "genome-wide p = 5e-8"}};
  if (content.cluster.threshold) strokes.push_back({"#555", "2 3", "1.5", content.thresholdLabel});
  if (rates.top > 0) strokes.push_back({kRateColour, "none", "1.5", "recombination rate"});
  if (!options.credibleSet.empty()) strokes.push_back({"#ffe9a8", "none", "8", "credible set"});
  for (const LineSample& s : strokes) entry([&] { return legend.Stroke(s.colour, s.dashes, s.width); }, s.label);
  if (clamped > 0)
    svg << Text(kLeft, legend.y + 22, std::to_string(clamped) + (clamped == 1 ? " value" : " values") +
                                          " of p = 0 drawn at the top of an axis", "start");
  svg << "</g>\n</svg>\n";
  // The canvas grows when the legend takes more rows than a classic plot's.
  const double height = std::max(kHeight, legend.y + 30);
  std::ostringstream head;
  head << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << kWidth << "\" height=\"" << height
       << "\" viewBox=\"0 0 " << kWidth << ' ' << height << "\" font-family=\"sans-serif\">\n"
       << "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
  return head.str() + svg.str();
}
