#include "gui/framework/UrlOpener.h"

#include <QDesktopServices>

namespace {

UrlOpenerHook& Hook() {
    static UrlOpenerHook hook;
    return hook;
}

}  // namespace

bool GWOpenUrl(const QUrl& url) {
    if (Hook()) return Hook()(url);
    return QDesktopServices::openUrl(url);
}

void SetUrlOpenerHook(UrlOpenerHook hook) {
    Hook() = std::move(hook);
}
