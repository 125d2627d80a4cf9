#include "gui/framework/MonitorText.h"

#include <QStringDecoder>

#include "core/base/Utf8Text.h"

QString MonitorText(std::string_view bytes) {
    const QByteArrayView view(bytes.data(), static_cast<qsizetype>(bytes.size()));
    if (!IsUtf8(bytes)) return QString::fromLatin1(view);
    // Qt's decoder, as the grid always had it: it drops a leading byte-order mark.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    return utf8.decode(view);
}
