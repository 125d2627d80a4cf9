#pragma once
// One subset (service) of a graph as callers hand it over: name, port, line
// colour and line style.

#include <cstdint>
#include <string>

struct ServiceRecord {
    std::string m_Name;          // compared exactly, case-sensitive
    int32_t m_bUserDefined = 0;  // 1 for a service the user added
    int32_t m_Port = 0;          // shown in the subset label
    uint32_t m_Color = 0;        // RGB value, red in the low byte
    int32_t m_LineStyle = 0;     // LineStyle code
};

// Line style codes, drawn the same by the graph and by the options' samples.
enum LineStyle : int32_t {
    LineSolid = 0,       // solid, width 1
    LineDash = 1,        // dashed, width 1
    LineDot = 2,         // dotted, width 1
    LineDashDot = 3,     // dash-dot, width 1
    LineDashDotDot = 4,  // dash-dot-dot, width 1
    LineSolid4 = 5,      // solid, width 4
    LineSolid8 = 6,      // solid, width 8
};
