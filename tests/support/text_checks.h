#pragma once
// What the tests look for in the texts a run leaves: logs, standard error, access logs.

#include <string>

// How many times `what` stands in `text`, overlapping ones included.
int CountOf(const std::string& text, const std::string& what);
