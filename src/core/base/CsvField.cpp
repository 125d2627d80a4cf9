#include "core/base/CsvField.h"

std::string CsvField(std::string_view text, CsvQuoting quoting) {
    if (quoting == CsvQuoting::WhenNeeded && text.find_first_of(",\"\r\n") == text.npos) {
        return std::string(text);
    }
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string CsvLine(const std::vector<std::string>& fields, CsvQuoting quoting) {
    std::string line;
    for (size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) line += ',';
        line += CsvField(fields[i], quoting);
    }
    return line + "\r\n";
}
