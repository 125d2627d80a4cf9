#pragma once
// A text as the monitor sent it, for the screen: UTF-8 when it is valid
// UTF-8 (by the core's own check, so the grid and the exports agree), else
// one character per byte (Latin-1); never a replacement character. Every
// model that shows a monitor's text goes through here.

#include <QString>
#include <string_view>

QString MonitorText(std::string_view bytes);
