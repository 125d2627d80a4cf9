#pragma once
// Case folding for the filter: what a user types and what the table holds are
// compared after both went through this. ASCII letters and the accented
// capitals of UTF-8's Latin-1 range (À..Þ) become small; other bytes stay.

#include <string>
#include <string_view>

void AppendFolded(std::string_view text, std::string& out);
std::string Folded(std::string_view text);
