#include "chisq.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int ITMAX = 1000;
constexpr int MAXIT = 1000;
// Far below the spacing of doubles near 1: the continued fractions stop only
// when their last factor is exactly 1.
constexpr double CONV_TOL = 3.0e-20;
constexpr double MIN_MAG = 1.0e-30;

FatalCleanup fatalCleanup = nullptr;

double tiny(double v) { return std::fabs(v) < MIN_MAG ? MIN_MAG : v; }

}  // namespace

void setFatalCleanup(FatalCleanup cleanup) { fatalCleanup = cleanup; }

void nrerror(const char* error_text) {
  if (fatalCleanup) fatalCleanup();
  std::fprintf(stderr, "Numerical Recipes run-time error...\n");
  std::fprintf(stderr, "%s\n", error_text);
  std::fprintf(stderr, "...now exiting to system...\n");
  std::exit(1);
}

double gammln(double xx) {
  static const double cof[6] = {76.18009172947146,     -86.50532032941678,
                                24.01409824083091,     -1.231739572450155,
                                0.001208650973866179, -0.000005395239384953};
  double x = xx, y = xx;
  double tmp = x + 5.5;
  tmp -= (x + 0.5) * std::log(tmp);
  double ser = 1.000000000190015;
  for (int j = 0; j <= 5; j++) ser += cof[j] / ++y;
  return -tmp + std::log(2.5066282746310007 * ser / x);
}

void gser(double* gamser, double a, double x, double* gln) {
  *gln = gammln(a);
  if (x <= 0.0) {
    if (x < 0.0) nrerror("x less than 0 in routine gser");
    *gamser = 0.0;
    return;
  }
  double ap = a;
  double del = 1.0 / a, sum = del;
  for (int n = 1; n <= ITMAX; n++) {
    ++ap;
    del *= x / ap;
    sum += del;
    if (std::fabs(del) < std::fabs(sum) * CONV_TOL) {
      *gamser = sum * std::exp(a * std::log(x) - x - *gln);
      return;
    }
  }
  nrerror("a too large, ITMAX too small in routine gser");
}

void gcf(double* gammcf, double a, double x, double* gln) {
  *gln = gammln(a);
  double b = x + 1.0 - a;
  double c = 1.0 / MIN_MAG;
  double d = 1.0 / b;
  double h = d;
  int i = 1;
  for (; i <= ITMAX; i++) {
    double an = -i * (i - a);
    b += 2.0;
    d = tiny(an * d + b);
    c = tiny(b + an / c);
    d = 1.0 / d;
    double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) < CONV_TOL) break;
  }
  if (i > ITMAX) nrerror("a too large, ITMAX too small in gcf");
  *gammcf = std::exp(a * std::log(x) - x - *gln) * h;
}

double gammp(double a, double x) {
  if (x < 0.0 || a <= 0.0) nrerror("Invalid arguments in routine gammp");
  double value, gln;
  if (x < a + 1.0) {
    gser(&value, a, x, &gln);
    return value;
  }
  gcf(&value, a, x, &gln);
  return 1.0 - value;
}

double gammq(double a, double x) {
  if (x < 0.0 || a <= 0.0) nrerror("Invalid arguments in routine gammq");
  double value, gln;
  if (x < a + 1.0) {
    gser(&value, a, x, &gln);
    return 1.0 - value;
  }
  gcf(&value, a, x, &gln);
  return value;
}

double erff(double x) { return x < 0.0 ? -gammp(0.5, x * x) : gammp(0.5, x * x); }

double erffc(double x) { return x < 0.0 ? 1.0 + gammp(0.5, x * x) : gammq(0.5, x * x); }

double erfcc(double x) {
  double z = std::fabs(x);
  double t = 1.0 / (1.0 + 0.5 * z);
  double ans =
      t * std::exp(-z * z - 1.26551223 +
                   t * (1.00002368 +
                        t * (0.37409196 +
                             t * (0.09678418 +
                                  t * (-0.18628806 +
                                       t * (0.27886807 +
                                            t * (-1.13520398 +
                                                 t * (1.48851587 +
                                                      t * (-0.82215223 + t * 0.17087277)))))))));
  return x >= 0.0 ? ans : 2.0 - ans;
}

double betacf(double a, double b, double x) {
  double qab = a + b, qap = a + 1.0, qam = a - 1.0;
  double c = 1.0;
  double d = 1.0 / tiny(1.0 - qab * x / qap);
  double h = d;
  int m = 1;
  for (; m <= MAXIT; m++) {
    int m2 = 2 * m;
    double aa = m * (b - m) * x / ((qam + m2) * (a + m2));
    d = 1.0 / tiny(1.0 + aa * d);
    c = tiny(1.0 + aa / c);
    h *= d * c;
    aa = -(a + m) * (qab + m) * x / ((a + m2) * (qap + m2));
    d = 1.0 / tiny(1.0 + aa * d);
    c = tiny(1.0 + aa / c);
    double del = d * c;
    h *= del;
    if (std::fabs(del - 1.0) < CONV_TOL) break;
  }
  if (m > MAXIT) nrerror("a or b too big, or MAXIT too small in betacf");
  return h;
}

double betai(double a, double b, double x) {
  if (x < 0.0 || x > 1.0) nrerror("Bad x in routine betai");
  double bt = 0.0;
  if (x != 0.0 && x != 1.0)
    bt = std::exp(gammln(a + b) - gammln(a) - gammln(b) + a * std::log(x) +
                  b * std::log(1.0 - x));
  if (x < (a + 1.0) / (a + b + 2.0)) return bt * betacf(a, b, x) / a;
  return 1.0 - bt * betacf(b, a, 1.0 - x) / b;
}

double qChisq(double a, int k) { return gammq(k / 2.0, a / 2.0); }

double pChisq(double a, int k) { return gammp(k / 2.0, a / 2.0); }

double qStudentT(double a, int k) { return betai(k / 2.0, 0.5, k / (k + a * a)); }

double pStudentT(double a, int k) { return 1.0 - betai(k / 2.0, 0.5, k / (k + a * a)); }

double qNomral(double x) { return 0.5 * erffc(x / 1.4142135623730951); }
