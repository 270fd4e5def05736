// The data set of a one-shot run, built in memory from a conversion: the same
// haplotypes, phenotypes and marker intervals that a classic run reads from
// the converted files, without writing them.
#pragma once

#include <string>

#include "conversion.h"
#include "dbscan.h"

// parameterText: a parameter file's content; source names it in messages.
// Raises a RunError for a bad parameter or phenotype.
void BuildDataSet(CDataPoints& ds, const Conversion& conversion, const std::string& parameterText,
                  const std::string& source);
