#pragma once
// Lines of a CSV file (RFC 4180): fields joined by commas, a quoted field has
// its quotes doubled, every line ends in CRLF. The texts are given as they
// are to be written (UTF-8); nothing here converts them.

#include <string>
#include <string_view>
#include <vector>

enum class CsvQuoting {
    WhenNeeded,  // only a field that holds a comma, a quote or a line break
    Always,
};

std::string CsvField(std::string_view text, CsvQuoting quoting);
std::string CsvLine(const std::vector<std::string>& fields, CsvQuoting quoting);
