#pragma once
// Hands an address to the desktop (a manual page, a web page), which opens it
// in the viewer the user chose. Tests intercept it, so that none launches a
// program.

#include <QUrl>
#include <functional>

// True when the desktop took the address.
bool GWOpenUrl(const QUrl& url);
using UrlOpenerHook = std::function<bool(const QUrl& url)>;
void SetUrlOpenerHook(UrlOpenerHook hook);  // empty: the desktop again
