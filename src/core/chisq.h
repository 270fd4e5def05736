// Upper-tail probabilities of the chi-square, Student t and standard normal
// distributions, with the incomplete gamma and beta functions they rest on.
#pragma once

double qChisq(double a, int k);
double qStudentT(double a, int k);
double qNomral(double x);
double pChisq(double a, int k);
double pStudentT(double a, int k);

double erff(double x);
double erffc(double x);
double erfcc(double x);
double gammp(double a, double x);
double gammq(double a, double x);
void gser(double* gamser, double a, double x, double* gln);
void gcf(double* gammcf, double a, double x, double* gln);
double gammln(double xx);
double betai(double a, double b, double x);
double betacf(double a, double b, double x);

// Prints the fatal numerical error and ends the process with status 1.
[[noreturn]] void nrerror(const char* error_text);

// Called by nrerror before the process ends, so that a run can remove its
// unfinished output files. Set by the scan driver.
using FatalCleanup = void (*)();
void setFatalCleanup(FatalCleanup cleanup);
