#pragma once
// vgl-monitor --check HOST[:PORT] [--polls N] [--period SECONDS]

// The exit status: 0 clean, 1 a record broke a rule, 2 no monitor or a bad command line.
int RunCheck(int argc, char** argv);
