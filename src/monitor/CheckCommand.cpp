#include "CheckCommand.h"

#include <iostream>
#include <string>

#include "MonitorCheck.h"
#include "OptionText.h"

int RunCheck(int argc, char** argv) {
    std::string host;
    unsigned long polls = 3, seconds = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        const bool valued = option == "--check" || option == "--polls" || option == "--period";
        if (!valued || i + 1 >= argc) {
            std::cerr
                << "vgl-monitor: "
                << (valued ? "option " + option + " needs a value"
                           : "unknown option " + option + " after --check")
                << "\nusage: vgl-monitor --check HOST[:PORT] [--polls N] [--period SECONDS]\n";
            return 2;
        }
        const std::string value = argv[++i];
        if (option == "--check") {
            host = value;
        } else if (!ParseNumber(value, option == "--polls" ? 1 : 0, 3600,
                                option == "--polls" ? polls : seconds)) {
            std::cerr << "vgl-monitor: bad value for " << option << ": \"" << value << "\"\n";
            return 2;
        }
    }
    MonitorCheck check;
    return check.Run(host, static_cast<int>(polls), std::chrono::seconds(seconds), std::cout);
}
