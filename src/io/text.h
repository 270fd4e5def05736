// Reading text files: lines, fields, whole-token numbers, and the one-line
// errors that name the file and line.
#pragma once

#include <fstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// A problem with the inputs or the output files: the run stops with this
// message on standard error and exit status 1, leaving earlier files as they were.
struct RunError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Raises the RunError "source:line: what".
[[noreturn]] void Reject(const std::string& source, int line, const std::string& what);

// A token as it may be shown in a message: quoted, cut to 40 characters,
// control characters replaced.
std::string Quoted(std::string_view token);

// A whole number for people, in groups of three digits: "24,990".
std::string Grouped(long long value);

// Whole-token numbers: an integer, or a finite real in double or single
// precision. A token with anything left over is malformed.
bool ParseInt(std::string_view token, int& out);
bool ParseDouble(std::string_view token, double& out);
bool ParseFloat(std::string_view token, float& out);

// Reads a line without its end: a trailing carriage return is dropped too.
bool ReadLine(std::istream& in, std::string& line);

// Fields of a line split at any run of the separators (space, comma and tab
// in the data and interval files), without empty fields.
std::vector<std::string_view> SplitFields(std::string_view line, std::string_view separators = " ,\t");

// Opens an input file for reading, or raises a RunError that says why not.
std::ifstream OpenInputFile(const std::string& path, const char* what);
