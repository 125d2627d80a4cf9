#include "gui/graph/GraphCtrl.h"

#include <QApplication>
#include <QClipboard>
#include <QEvent>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPaintDevice>
#include <QPainter>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "gui/graph/ServiceRecord.h"

namespace {

constexpr qreal PixelsPerMm = 10.0;      // density of the clipboard picture
constexpr int MaxPictureSide = 8000;     // guards against absurd extents
constexpr double EmptyRangeSpan = 10.0;  // what an empty Y range shows

// Colours of subsets whose colour was never set.
const QColor FallbackPalette[] = {
    QColor(0, 0, 255),   QColor(255, 0, 0), QColor(0, 128, 0), QColor(255, 0, 255),
    QColor(0, 128, 128), QColor(128, 0, 0), QColor(0, 0, 128), QColor(128, 128, 0),
};

// A step of 1, 2 or 5 times a power of ten that cuts the span into at most
// maxTicks parts.
double NiceStep(double span, int maxTicks) {
    const double raw = span / std::max(maxTicks, 1);
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double normalised = raw / magnitude;
    double nice = 10.0;
    if (normalised <= 1.0) {
        nice = 1.0;
    } else if (normalised <= 2.0) {
        nice = 2.0;
    } else if (normalised <= 5.0) {
        nice = 5.0;
    }
    return nice * magnitude;
}

void EffectiveRange(double min, double max, double& low, double& high) {
    low = std::isfinite(min) ? min : 0.0;
    high = std::isfinite(max) ? max : low;
    if (!(high > low)) high = low + EmptyRangeSpan;
}

void TickValues(double low, double high, int maxTicks, std::vector<double>& ticks, double& step) {
    ticks.clear();
    step = NiceStep(high - low, maxTicks);
    const double first = std::ceil(low / step - 1e-9) * step;
    for (int i = 0; i <= maxTicks + 1; ++i) {
        double value = first + i * step;
        if (value > high + step * 1e-9) break;
        if (std::fabs(value) < step * 1e-9) value = 0.0;  // no "-0"
        ticks.push_back(value);
    }
}

// Large values get a suffix shared by the whole axis; the decimals follow
// from the step, so neighbouring ticks never read the same.
QStringList FormatTicks(const std::vector<double>& ticks, double step) {
    double largest = 0.0;
    for (double value : ticks) largest = std::max(largest, std::fabs(value));
    double unit = 1.0;
    QString suffix;
    if (largest >= 1e9) {
        unit = 1e9;
        suffix = QStringLiteral("G");
    } else if (largest >= 1e6) {
        unit = 1e6;
        suffix = QStringLiteral("M");
    } else if (largest >= 1e4) {
        unit = 1e3;
        suffix = QStringLiteral("K");
    }
    const int decimals =
        std::clamp(static_cast<int>(-std::floor(std::log10(step / unit) + 1e-9)), 0, 6);
    QStringList texts;
    texts.reserve(static_cast<qsizetype>(ticks.size()));
    for (double value : ticks) {
        texts.push_back(value == 0.0 ? QStringLiteral("0")
                                     : QString::number(value / unit, 'f', decimals) + suffix);
    }
    return texts;
}

}  // namespace

GraphCtrl::GraphCtrl(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);  // every pixel is painted
}

GraphCtrl::~GraphCtrl() = default;

template <class T>
void GraphCtrl::Grow(std::vector<T>& items, int index, const T& fill) {
    if (index >= static_cast<int>(items.size())) items.resize(static_cast<size_t>(index) + 1, fill);
}

void GraphCtrl::SetTitle(const QString& title) {
    m_Title = title;
    Invalidate();
}

void GraphCtrl::SetSubtitle(const QString& subtitle) {
    m_Subtitle = subtitle;
    Invalidate();
}

void GraphCtrl::SetXAxisLabel(const QString& label) {
    m_XAxisLabel = label;
    Invalidate();
}

void GraphCtrl::SetYAxisLabel(const QString& label) {
    m_YAxisLabel = label;
    Invalidate();
}

void GraphCtrl::SetSubsetCount(int count) {
    count = std::max(count, 0);
    // Each subset's ring is one block, so blocks of the remaining subsets stay put.
    m_Values.resize(static_cast<size_t>(count) * static_cast<size_t>(m_nPoints), 0.0f);
    m_nSubsets = count;
    Invalidate();
}

void GraphCtrl::RemapSubsets(std::span<const int> sources) {
    const int count = static_cast<int>(sources.size());
    std::vector<float> values(static_cast<size_t>(count) * static_cast<size_t>(m_nPoints), 0.0f);
    for (int s = 0; s < count; ++s) {
        const int from = sources[static_cast<size_t>(s)];
        if (from < 0 || from >= m_nSubsets) continue;
        // Whole rings move, so the oldest point stays where it was.
        const auto first = m_Values.begin() + static_cast<ptrdiff_t>(from) * m_nPoints;
        std::copy(first, first + m_nPoints, values.begin() + static_cast<ptrdiff_t>(s) * m_nPoints);
    }
    m_Values = std::move(values);
    m_nSubsets = count;
    Invalidate();
}

void GraphCtrl::SetPointCount(int count) {
    count = std::max(count, 0);
    if (count == m_nPoints) return;
    const int keep = std::min(count, m_nPoints);
    std::vector<float> values(static_cast<size_t>(m_nSubsets) * static_cast<size_t>(count), 0.0f);
    std::vector<QString> labels(static_cast<size_t>(count));
    for (int p = 0; p < keep; ++p) {
        const int from = m_nPoints - keep + p;
        const int to = count - keep + p;
        for (int s = 0; s < m_nSubsets; ++s) {
            values[static_cast<size_t>(s * count + to)] = Value(s, from);
        }
        labels[static_cast<size_t>(to)] = PointLabel(from);
    }
    m_Values = std::move(values);
    m_PointLabels = std::move(labels);
    m_Oldest = 0;
    m_OldestLabel = 0;
    m_nPoints = count;
    Invalidate();
}

void GraphCtrl::SetSubsetLabel(int subset, const QString& label) {
    if (subset < 0) return;
    Grow(m_SubsetLabels, subset, QString());
    m_SubsetLabels[static_cast<size_t>(subset)] = label;
    Invalidate();
}

void GraphCtrl::SetSubsetColor(int subset, const QColor& color) {
    if (subset < 0) return;
    Grow(m_SubsetColors, subset, QColor());
    m_SubsetColors[static_cast<size_t>(subset)] = color;
    Invalidate();
}

void GraphCtrl::SetSubsetColors(const std::vector<QColor>& colors) {
    for (size_t i = 0; i < colors.size(); ++i) SetSubsetColor(static_cast<int>(i), colors[i]);
}

void GraphCtrl::SetSubsetLineStyle(int subset, int code) {
    if (subset < 0) return;
    Grow(m_SubsetStyles, subset, static_cast<int>(LineSolid));
    m_SubsetStyles[static_cast<size_t>(subset)] = code;
    Invalidate();
}

void GraphCtrl::SetYMin(double value) {
    m_YMin = value;
    Invalidate();
}

void GraphCtrl::SetYMax(double value) {
    m_YMax = value;
    Invalidate();
}

void GraphCtrl::AppendPoint(std::span<const float> values) {
    if (m_nPoints == 0) return;
    for (int s = 0; s < m_nSubsets; ++s) {
        const float value =
            static_cast<size_t>(s) < values.size() ? values[static_cast<size_t>(s)] : 0.0f;
        m_Values[static_cast<size_t>(s * m_nPoints + m_Oldest)] = value;
    }
    m_Oldest = (m_Oldest + 1) % m_nPoints;
    update();
}

void GraphCtrl::AppendPointLabel(const QString& label) {
    if (m_nPoints == 0) return;
    m_PointLabels[static_cast<size_t>(m_OldestLabel)] = label;
    m_OldestLabel = (m_OldestLabel + 1) % m_nPoints;
    Invalidate();
}

void GraphCtrl::SetPointLabel(int index, const QString& label) {
    if (index < 0 || index >= m_nPoints) return;
    m_PointLabels[static_cast<size_t>((m_OldestLabel + index) % m_nPoints)] = label;
    Invalidate();
}

void GraphCtrl::SetBackgroundColor(const QColor& color) {
    m_BackgroundColor = color;
    Invalidate();
}

void GraphCtrl::SetPlotColor(const QColor& color) {
    m_PlotColor = color;
    Invalidate();
}

void GraphCtrl::SetGridLines(GridLines lines) {
    m_GridLines = lines;
    Invalidate();
}

void GraphCtrl::ShowLegend(bool show) {
    m_bLegend = show;
    Invalidate();
}

void GraphCtrl::Refresh() {
    Invalidate();
    update();
}

QString GraphCtrl::SubsetLabel(int subset) const {
    if (subset < 0 || subset >= static_cast<int>(m_SubsetLabels.size())) return QString();
    return m_SubsetLabels[static_cast<size_t>(subset)];
}

QColor GraphCtrl::SubsetColor(int subset) const {
    if (subset < 0) return QColor();
    if (subset < static_cast<int>(m_SubsetColors.size()) &&
        m_SubsetColors[static_cast<size_t>(subset)].isValid()) {
        return m_SubsetColors[static_cast<size_t>(subset)];
    }
    return FallbackPalette[static_cast<size_t>(subset) % std::size(FallbackPalette)];
}

int GraphCtrl::SubsetLineStyle(int subset) const {
    if (subset < 0 || subset >= static_cast<int>(m_SubsetStyles.size())) return LineSolid;
    return m_SubsetStyles[static_cast<size_t>(subset)];
}

float GraphCtrl::Value(int subset, int point) const {
    if (subset < 0 || subset >= m_nSubsets || point < 0 || point >= m_nPoints) return 0.0f;
    return m_Values[static_cast<size_t>(subset * m_nPoints + (m_Oldest + point) % m_nPoints)];
}

QString GraphCtrl::PointLabel(int point) const {
    if (point < 0 || point >= m_nPoints) return QString();
    return m_PointLabels[static_cast<size_t>((m_OldestLabel + point) % m_nPoints)];
}

QPen GraphCtrl::LineStylePen(int code, const QColor& color, qreal scale) {
    QPen pen(color);
    qreal width = 1.0;
    Qt::PenStyle style = Qt::SolidLine;
    switch (code) {
        case LineDash:
            style = Qt::DashLine;
            break;
        case LineDot:
            style = Qt::DotLine;
            break;
        case LineDashDot:
            style = Qt::DashDotLine;
            break;
        case LineDashDotDot:
            style = Qt::DashDotDotLine;
            break;
        case LineSolid4:
            width = 4.0;
            break;
        case LineSolid8:
            width = 8.0;
            break;
        default:
            break;
    }
    pen.setStyle(style);
    pen.setWidthF(width * scale);
    // Flat ends keep dots and dashes apart; thick solid lines get round ends.
    pen.setCapStyle(style == Qt::SolidLine ? Qt::RoundCap : Qt::FlatCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

QColor GraphCtrl::ColorFromRgbValue(uint32_t rgb) {
    return QColor(static_cast<int>(rgb & 0xFF), static_cast<int>((rgb >> 8) & 0xFF),
                  static_cast<int>((rgb >> 16) & 0xFF));
}

uint32_t GraphCtrl::RgbValueFromColor(const QColor& color) {
    return static_cast<uint32_t>(color.red()) | (static_cast<uint32_t>(color.green()) << 8) |
           (static_cast<uint32_t>(color.blue()) << 16);
}

QStringList GraphCtrl::YTickLabels(double min, double max, int maxTicks) {
    double low = 0.0;
    double high = 0.0;
    EffectiveRange(min, max, low, high);
    std::vector<double> ticks;
    double step = 1.0;
    TickValues(low, high, std::max(maxTicks, 1), ticks, step);
    return FormatTicks(ticks, step);
}

void GraphCtrl::CopyToClipboard(QSize extent) {
    QGuiApplication::clipboard()->setImage(RenderImage(extent));
}

QImage GraphCtrl::RenderImage(QSize extent) const {
    const int width = std::clamp(qRound(extent.width() * PixelsPerMm / 100.0), 1, MaxPictureSide);
    const int height = std::clamp(qRound(extent.height() * PixelsPerMm / 100.0), 1, MaxPictureSide);
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    const int dotsPerMeter = qRound(PixelsPerMm * 1000.0);
    image.setDotsPerMeterX(dotsPerMeter);
    image.setDotsPerMeterY(dotsPerMeter);
    QPainter painter(&image);
    Render(painter, QRectF(0, 0, width, height));
    return image;
}

void GraphCtrl::Render(QPainter& painter, const QRectF& target) const {
    Layout layout;
    ComputeLayout(layout, painter.device(), font(), target);
    Draw(painter, layout, PaperColors());
}

void GraphCtrl::paintEvent(QPaintEvent*) {
    EnsureLayout();
    QPainter painter(this);
    Draw(painter, m_Layout, ScreenColors());
    if (m_bDragging) DrawDragBand(painter);
    // Tab reaches the graph too: it shows where the keyboard is.
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.setBrush(Qt::NoBrush);
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
}

void GraphCtrl::EnsureLayout() {
    if (m_bLayoutValid && m_Layout.m_Target == QRectF(rect())) return;
    ComputeLayout(m_Layout, this, font(), QRectF(rect()));
    m_bLayoutValid = true;
}

void GraphCtrl::mousePressEvent(QMouseEvent* event) {
    EnsureLayout();
    if (event->button() != Qt::LeftButton || m_nPoints == 0 ||
        !m_Layout.m_Frame.contains(event->position())) {
        QWidget::mousePressEvent(event);
        return;
    }
    m_bPressed = true;
    m_bDragging = false;
    m_PressAt = m_DragTo = event->position();
}

void GraphCtrl::mouseMoveEvent(QMouseEvent* event) {
    if (!m_bPressed) {
        QWidget::mouseMoveEvent(event);
        return;
    }
    m_DragTo = event->position();
    if (std::abs(m_DragTo.x() - m_PressAt.x()) >= QApplication::startDragDistance())
        m_bDragging = true;
    if (m_bDragging) update();
}

void GraphCtrl::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_bPressed || event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    m_bPressed = false;
    EnsureLayout();
    if (!m_bDragging) {
        const int point = NearestPoint(m_PressAt.x());
        emit pointsChosen(point, point, SubsetNear(m_PressAt));
        return;
    }
    m_bDragging = false;
    update();
    const qreal left = std::min(m_PressAt.x(), event->position().x());
    const qreal right = std::max(m_PressAt.x(), event->position().x());
    int first = NearestPoint(left);
    int last = NearestPoint(right);
    // The band takes the points inside it; one narrower than a point's
    // spacing still takes the point nearest to its middle.
    if (XOf(m_Layout, first) < left && first < last) ++first;
    if (XOf(m_Layout, last) > right && last > first) --last;
    if (XOf(m_Layout, first) < left || XOf(m_Layout, last) > right)
        first = last = NearestPoint((left + right) / 2);
    emit pointsChosen(first, last, -1);
}

int GraphCtrl::NearestPoint(qreal x) const {
    if (m_nPoints <= 1) return 0;
    const qreal spacing = m_Layout.m_Data.width() / (m_nPoints - 1);
    const int point = qRound((x - m_Layout.m_Data.left()) / std::max(spacing, 1e-6));
    return std::clamp(point, 0, m_nPoints - 1);
}

namespace {

qreal DistanceToSegment(const QPointF& at, const QPointF& from, const QPointF& to) {
    const QPointF along = to - from;
    const qreal length = QPointF::dotProduct(along, along);
    const qreal t =
        length > 0 ? std::clamp(QPointF::dotProduct(at - from, along) / length, 0.0, 1.0) : 0.0;
    const QPointF off = at - (from + t * along);
    return std::sqrt(QPointF::dotProduct(off, off));
}

}  // namespace

// The line nearest to the click, if it passed within a few pixels of it; of
// lines drawn over one another the one drawn last, which is the one seen.
int GraphCtrl::SubsetNear(const QPointF& at) const {
    const qreal reach = 6 * m_Layout.m_Scale;
    int nearest = -1;
    qreal best = reach;
    for (int s = 0; s < m_nSubsets; ++s) {
        const qreal halfWidth =
            LineStylePen(SubsetLineStyle(s), Qt::black, m_Layout.m_Scale).widthF() / 2;
        for (int p = 0; p < m_nPoints; ++p) {
            const QPointF here(XOf(m_Layout, p), YOf(m_Layout, Value(s, p)));
            const QPointF next = p + 1 < m_nPoints
                                     ? QPointF(XOf(m_Layout, p + 1), YOf(m_Layout, Value(s, p + 1)))
                                     : here;
            const qreal distance = DistanceToSegment(at, here, next) - halfWidth;
            if (distance <= best) {
                best = distance;
                nearest = s;
            }
        }
    }
    return nearest;
}

QRectF GraphCtrl::DragBand() const {
    const QRectF& frame = m_Layout.m_Frame;
    const qreal left =
        std::clamp(std::min(m_PressAt.x(), m_DragTo.x()), frame.left(), frame.right());
    const qreal right =
        std::clamp(std::max(m_PressAt.x(), m_DragTo.x()), frame.left(), frame.right());
    return QRectF(QPointF(left, frame.top()), QPointF(right, frame.bottom()));
}

void GraphCtrl::DrawDragBand(QPainter& painter) const {
    QColor fill = palette().color(QPalette::Highlight);
    const QColor edge = fill;
    fill.setAlpha(60);
    painter.fillRect(DragBand(), fill);
    painter.setPen(QPen(edge, m_Layout.m_Scale));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(DragBand());
}

QPointF GraphCtrl::PointPosition(int subset, int point) const {
    Layout layout;
    ComputeLayout(layout, this, font(), QRectF(rect()));
    return QPointF(XOf(layout, point), YOf(layout, Value(subset, point)));
}

void GraphCtrl::resizeEvent(QResizeEvent* event) {
    Invalidate();
    QWidget::resizeEvent(event);
}

void GraphCtrl::changeEvent(QEvent* event) {
    if (event->type() == QEvent::FontChange) Invalidate();
    if (event->type() == QEvent::PaletteChange) update();  // a dark palette paints otherwise
    QWidget::changeEvent(event);
}

void GraphCtrl::ComputeLayout(Layout& layout, const QPaintDevice* device, const QFont& base,
                              const QRectF& target) const {
    const qreal scale = device ? device->logicalDpiY() / 96.0 : 1.0;
    layout.m_Target = target;
    layout.m_Scale = scale;
    layout.m_TextFont = base;
    layout.m_TitleFont = base;
    layout.m_TitleFont.setBold(true);
    if (base.pointSizeF() > 0) {
        layout.m_TitleFont.setPointSizeF(base.pointSizeF() * 1.25);
    } else {
        layout.m_TitleFont.setPixelSize(qRound(base.pixelSize() * 1.25));
    }
    const QFontMetricsF metrics(layout.m_TextFont, device);
    const QFontMetricsF titleMetrics(layout.m_TitleFont, device);
    const qreal line = metrics.height();
    layout.m_LineHeight = line;
    const qreal margin = 8 * scale;
    const qreal gap = 4 * scale;
    const qreal pad = 6 * scale;  // half the widest line and a little more
    layout.m_TickLength = 4 * scale;

    const qreal left = target.left() + margin;
    const qreal right = target.right() - margin;
    const qreal width = std::max(right - left, 1.0);

    // Top: the titles.
    qreal top = target.top() + margin;
    layout.m_TitleRect = QRectF();
    layout.m_SubtitleRect = QRectF();
    if (!m_Title.isEmpty()) {
        layout.m_TitleRect = QRectF(left, top, width, titleMetrics.height());
        layout.m_TitleText = titleMetrics.elidedText(m_Title, Qt::ElideRight, width);
        top += titleMetrics.height();
    }
    if (!m_Subtitle.isEmpty()) {
        layout.m_SubtitleRect = QRectF(left, top, width, line);
        layout.m_SubtitleText = metrics.elidedText(m_Subtitle, Qt::ElideRight, width);
        top += line;
    }
    if (!m_Title.isEmpty() || !m_Subtitle.isEmpty()) top += gap;
    const qreal frameTop = top + line / 2;  // room for the top tick's text

    // Bottom: legend, X axis label, X tick labels.
    qreal bottom = target.bottom() - margin;
    layout.m_LegendRow = std::max(line, 10 * scale);
    const qreal sample = 32 * scale;
    if (m_bLegend && m_nSubsets > 0) {
        qreal widest = 0;
        for (int s = 0; s < m_nSubsets; ++s) {
            widest = std::max(widest, metrics.horizontalAdvance(SubsetLabel(s)));
        }
        const qreal spacing = 3 * gap;
        layout.m_LegendColumn = sample + gap + widest + spacing;
        layout.m_LegendColumns =
            std::clamp(static_cast<int>((width + spacing) / layout.m_LegendColumn), 1, m_nSubsets);
        const int rows = (m_nSubsets + layout.m_LegendColumns - 1) / layout.m_LegendColumns;
        const qreal used = layout.m_LegendColumns * layout.m_LegendColumn - spacing;
        layout.m_LegendLeft = left + std::max((width - used) / 2, 0.0);
        layout.m_LegendTop = bottom - rows * layout.m_LegendRow;
        // What the plot needs below the legend: its X labels and ticks and
        // a little height of its own. Without that room the legend would
        // lie over the plot, so it is left out.
        const qreal below = 2 * gap + (m_XAxisLabel.isEmpty() ? 0 : line + gap / 2) + line +
                            layout.m_TickLength + 4 * pad;
        if (layout.m_LegendTop - below >= frameTop) {
            layout.m_LegendRect =
                QRectF(layout.m_LegendLeft, layout.m_LegendTop, used, rows * layout.m_LegendRow);
            bottom = layout.m_LegendTop - 2 * gap;
        }
    }
    layout.m_XLabelRect = QRectF();
    if (!m_XAxisLabel.isEmpty()) {
        layout.m_XLabelRect = QRectF(left, bottom - line, width, line);
        layout.m_XLabelText = metrics.elidedText(m_XAxisLabel, Qt::ElideRight, width);
        bottom -= line + gap / 2;
    }
    layout.m_XTickTop = bottom - line;
    const qreal frameBottom = std::max(layout.m_XTickTop - layout.m_TickLength, frameTop + 4 * pad);

    // Left: the Y axis label, then the tick values, whose number depends on the height.
    qreal frameLeft = left;
    layout.m_YLabelRect = QRectF();
    layout.m_YLabelLines.clear();
    if (!m_YAxisLabel.isEmpty()) {
        layout.m_YLabelRect = YLabelBox(layout, metrics, left, frameTop, frameBottom);
        frameLeft += layout.m_YLabelRect.width() + gap;
    }
    EffectiveRange(m_YMin, m_YMax, layout.m_YLow, layout.m_YHigh);
    const int maxTicks =
        std::clamp(static_cast<int>((frameBottom - frameTop) / (1.6 * line)), 1, 10);
    double step = 1.0;
    TickValues(layout.m_YLow, layout.m_YHigh, maxTicks, layout.m_YTicks, step);
    layout.m_YTickText = FormatTicks(layout.m_YTicks, step);
    qreal tickWidth = 0;
    for (const QString& text : layout.m_YTickText) {
        tickWidth = std::max(tickWidth, metrics.horizontalAdvance(text));
    }
    frameLeft += tickWidth + gap + layout.m_TickLength;

    // Right: half of the newest point's label sticks out past the data.
    qreal labelWidth = 0;
    for (const QString& label : m_PointLabels) {
        labelWidth = std::max(labelWidth, metrics.horizontalAdvance(label));
    }
    const qreal frameRight =
        std::max(right - std::max(labelWidth / 2 - pad, 0.0), frameLeft + 4 * pad);

    layout.m_Frame = QRectF(QPointF(frameLeft, frameTop), QPointF(frameRight, frameBottom));
    layout.m_Data = layout.m_Frame.adjusted(pad, pad, -pad, -pad);

    // Thin out the X labels when they would touch; the newest always shows.
    layout.m_XLabelStride = 1;
    if (m_nPoints > 1 && labelWidth > 0) {
        const qreal spacing = layout.m_Data.width() / (m_nPoints - 1);
        layout.m_XLabelStride = std::max(
            1, static_cast<int>(std::ceil((labelWidth + 2 * gap) / std::max(spacing, 1.0))));
    }
}

// The upright Y label is measured in the font it is drawn with. It stands
// beside the plot, or where that is too short also beside the X tick labels
// and the X label (whose centred text leaves the corner free); a label longer
// still breaks at the space nearest its middle onto a second line, and only a
// line that even then does not fit is shortened.
QRectF GraphCtrl::YLabelBox(Layout& layout, const QFontMetricsF& metrics, qreal left, qreal top,
                            qreal frameBottom) const {
    const qreal length = metrics.horizontalAdvance(m_YAxisLabel);
    qreal room = frameBottom - top;
    if (length > room) room = layout.m_XTickTop + layout.m_LineHeight - top;
    const QRectF& xLabel = layout.m_XLabelRect;
    const qreal corner = 2 * metrics.lineSpacing();
    if (length > room && !xLabel.isNull() &&
        (xLabel.width() - metrics.horizontalAdvance(layout.m_XLabelText)) / 2 >= corner) {
        room = xLabel.bottom() - top;
    }
    layout.m_YLabelLines = QStringList{m_YAxisLabel};
    if (length > room) {
        qsizetype best = -1;
        for (qsizetype at = m_YAxisLabel.indexOf(' '); at > 0;
             at = m_YAxisLabel.indexOf(' ', at + 1)) {
            if (best < 0 ||
                std::abs(m_YAxisLabel.size() - 2 * at) < std::abs(m_YAxisLabel.size() - 2 * best)) {
                best = at;
            }
        }
        if (best > 0) layout.m_YLabelLines = {m_YAxisLabel.left(best), m_YAxisLabel.mid(best + 1)};
        for (QString& text : layout.m_YLabelLines) {
            text = metrics.elidedText(text, Qt::ElideRight, room);
        }
    }
    const qreal across =
        layout.m_LineHeight + (layout.m_YLabelLines.size() - 1) * metrics.lineSpacing();
    return QRectF(left, top, across, room);
}

QStringList GraphCtrl::YAxisLabelLines() const {
    Layout layout;
    ComputeLayout(layout, this, font(), QRectF(rect()));
    return layout.m_YLabelLines;
}

QRectF GraphCtrl::PlotFrame() const {
    Layout layout;
    ComputeLayout(layout, this, font(), QRectF(rect()));
    return layout.m_Frame;
}

QRectF GraphCtrl::LegendRect() const {
    Layout layout;
    ComputeLayout(layout, this, font(), QRectF(rect()));
    return layout.m_LegendRect;
}

qreal GraphCtrl::XOf(const Layout& layout, int point) const {
    if (m_nPoints <= 1) return layout.m_Data.center().x();
    return layout.m_Data.left() + point * layout.m_Data.width() / (m_nPoints - 1);
}

qreal GraphCtrl::YOf(const Layout& layout, double value) const {
    const double fraction = (value - layout.m_YLow) / (layout.m_YHigh - layout.m_YLow);
    const qreal y = layout.m_Data.bottom() - fraction * layout.m_Data.height();
    // Far-off values are drawn just outside the frame, where the clip hides them.
    const qreal slack = 50 * layout.m_Scale;
    return std::clamp(y, layout.m_Frame.top() - slack, layout.m_Frame.bottom() + slack);
}

namespace {

// A palette is dark when its window is darker than the text written on it.
bool IsDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() <
           palette.color(QPalette::WindowText).lightness();
}

QColor Between(const QColor& one, const QColor& other) {
    return QColor((one.red() + other.red()) / 2, (one.green() + other.green()) / 2,
                  (one.blue() + other.blue()) / 2);
}

// A line as dark as a dark plot area (black "Others", navy, dark grey) is
// drawn as light as it was dark, in its own hue.
QColor ReadableOn(const QColor& line, const QColor& plot) {
    constexpr int LeastDifference = 80;
    if (std::abs(line.lightness() - plot.lightness()) >= LeastDifference) return line;
    return QColor::fromHsl(line.hslHue(), line.hslSaturation(), 255 - line.lightness());
}

}  // namespace

GraphCtrl::Colors GraphCtrl::PaperColors() const {
    return {m_BackgroundColor, m_PlotColor, Qt::black, QColor(160, 160, 160), false};
}

GraphCtrl::Colors GraphCtrl::ScreenColors() const {
    const QPalette& colors = palette();
    if (!IsDark(colors)) return PaperColors();
    const QColor text = colors.color(QPalette::WindowText);
    const QColor plot = colors.color(QPalette::Base);
    return {colors.color(QPalette::Window), plot, text, Between(text, plot), true};
}

QPen GraphCtrl::SubsetPen(int subset, const Layout& layout, const Colors& colors) const {
    const QColor color = SubsetColor(subset);
    return LineStylePen(SubsetLineStyle(subset),
                        colors.m_bDark ? ReadableOn(color, colors.m_Plot) : color, layout.m_Scale);
}

void GraphCtrl::Draw(QPainter& painter, const Layout& layout, const Colors& colors) const {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.fillRect(layout.m_Target, colors.m_Background);
    painter.setPen(colors.m_Text);
    DrawTitles(painter, layout);
    painter.fillRect(layout.m_Frame, colors.m_Plot);
    DrawGrid(painter, layout, colors);
    QPen axisPen(colors.m_Text);
    axisPen.setWidthF(layout.m_Scale);
    painter.setPen(axisPen);
    DrawAxes(painter, layout);
    painter.drawRect(layout.m_Frame);
    DrawLines(painter, layout, colors);
    if (!layout.m_LegendRect.isEmpty()) DrawLegend(painter, layout, colors);
    painter.restore();
}

void GraphCtrl::DrawTitles(QPainter& painter, const Layout& layout) const {
    if (!layout.m_TitleRect.isNull()) {
        painter.setFont(layout.m_TitleFont);
        painter.drawText(layout.m_TitleRect, Qt::AlignCenter | Qt::TextSingleLine,
                         layout.m_TitleText);
    }
    painter.setFont(layout.m_TextFont);
    if (!layout.m_SubtitleRect.isNull()) {
        painter.drawText(layout.m_SubtitleRect, Qt::AlignCenter | Qt::TextSingleLine,
                         layout.m_SubtitleText);
    }
}

void GraphCtrl::DrawGrid(QPainter& painter, const Layout& layout, const Colors& colors) const {
    const QRectF& frame = layout.m_Frame;
    QPen gridPen(colors.m_Grid);
    gridPen.setWidthF(layout.m_Scale);
    gridPen.setStyle(Qt::DotLine);
    painter.setPen(gridPen);
    if (m_GridLines == GridHorizontal || m_GridLines == GridBoth) {
        for (double tick : layout.m_YTicks) {
            const qreal y = YOf(layout, tick);
            painter.drawLine(QPointF(frame.left(), y), QPointF(frame.right(), y));
        }
    }
    if (m_GridLines == GridVertical || m_GridLines == GridBoth) {
        for (int p = 0; p < m_nPoints; ++p) {
            const qreal x = XOf(layout, p);
            painter.drawLine(QPointF(x, frame.top()), QPointF(x, frame.bottom()));
        }
    }
}

// The ticks with their texts, and the axes' labels, in the painter's pen.
void GraphCtrl::DrawAxes(QPainter& painter, const Layout& layout) const {
    const QRectF& frame = layout.m_Frame;
    const qreal gap = 4 * layout.m_Scale;
    const qreal line = layout.m_LineHeight;
    for (size_t i = 0; i < layout.m_YTicks.size(); ++i) {
        const qreal y = YOf(layout, layout.m_YTicks[i]);
        painter.drawLine(QPointF(frame.left() - layout.m_TickLength, y), QPointF(frame.left(), y));
        const QRectF box(QPointF(layout.m_Target.left(), y - line / 2),
                         QPointF(frame.left() - layout.m_TickLength - gap, y + line / 2));
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter | Qt::TextSingleLine,
                         layout.m_YTickText[static_cast<qsizetype>(i)]);
    }
    const qreal slot = layout.m_XLabelStride *
                       (m_nPoints > 1 ? layout.m_Data.width() / (m_nPoints - 1) : frame.width());
    for (int p = m_nPoints - 1; p >= 0; p -= layout.m_XLabelStride) {
        const qreal x = XOf(layout, p);
        painter.drawLine(QPointF(x, frame.bottom()),
                         QPointF(x, frame.bottom() + layout.m_TickLength));
        const QRectF box(x - slot / 2, layout.m_XTickTop, slot, line);
        painter.drawText(box, Qt::AlignCenter | Qt::TextSingleLine, PointLabel(p));
    }
    if (!layout.m_XLabelRect.isNull()) {
        painter.drawText(layout.m_XLabelRect, Qt::AlignCenter | Qt::TextSingleLine,
                         layout.m_XLabelText);
    }
    if (!layout.m_YLabelRect.isNull()) {
        const QRectF& box = layout.m_YLabelRect;
        painter.save();
        painter.translate(box.center());
        painter.rotate(-90);
        painter.drawText(QRectF(-box.height() / 2, -box.width() / 2, box.height(), box.width()),
                         Qt::AlignCenter, layout.m_YLabelLines.join('\n'));
        painter.restore();
    }
}

// The lines, inside the frame only.
void GraphCtrl::DrawLines(QPainter& painter, const Layout& layout, const Colors& colors) const {
    const qreal scale = layout.m_Scale;
    painter.save();
    painter.setClipRect(layout.m_Frame.adjusted(scale, scale, -scale, -scale));
    m_Line.resize(static_cast<size_t>(m_nPoints));
    for (int s = 0; s < m_nSubsets; ++s) {
        for (int p = 0; p < m_nPoints; ++p) {
            m_Line[static_cast<size_t>(p)] = QPointF(XOf(layout, p), YOf(layout, Value(s, p)));
        }
        const QPen pen = SubsetPen(s, layout, colors);
        // Smoothing would wash thin lines out to half their colour.
        painter.setRenderHint(QPainter::Antialiasing, pen.widthF() > 2 * scale);
        painter.setPen(pen);
        painter.drawPolyline(m_Line.data(), m_nPoints);
    }
    painter.restore();
}

void GraphCtrl::DrawLegend(QPainter& painter, const Layout& layout, const Colors& colors) const {
    const qreal scale = layout.m_Scale;
    const qreal sample = 32 * scale;
    const qreal gap = 4 * scale;
    for (int s = 0; s < m_nSubsets; ++s) {
        const int row = s / layout.m_LegendColumns;
        const int column = s % layout.m_LegendColumns;
        const qreal x = layout.m_LegendLeft + column * layout.m_LegendColumn;
        const qreal y = layout.m_LegendTop + row * layout.m_LegendRow;
        const qreal middle = y + layout.m_LegendRow / 2;
        const QPen pen = SubsetPen(s, layout, colors);
        painter.setRenderHint(QPainter::Antialiasing, pen.widthF() > 2 * scale);
        painter.setPen(pen);
        painter.drawLine(QPointF(x + gap, middle), QPointF(x + sample - gap, middle));
        painter.setRenderHint(QPainter::Antialiasing, false);
        painter.setPen(colors.m_Text);
        painter.drawText(
            QRectF(x + sample + gap, y, layout.m_LegendColumn - sample - gap, layout.m_LegendRow),
            Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, SubsetLabel(s));
    }
}
