#include "gui/graph/GWGraphView.h"

#include <QPainter>
#include <QPrinter>
#include <QResizeEvent>
#include <algorithm>
#include <ctime>
#include <vector>

#include "core/base/Trace.h"
#include "gui/graph/GraphCtrl.h"

namespace {

// The proportions of the graph's picture, on the clipboard and on paper.
constexpr int PictureWidth = 14000;
constexpr int PictureHeight = 8000;
constexpr int ClearedPoints = 14;

}  // namespace

GWGraphView::GWGraphView(QWidget* parent) : QWidget(parent) {
    // The control covers the whole view and paints every pixel of it; the
    // view itself draws nothing.
    setAttribute(Qt::WA_NoSystemBackground);
    m_hGraph = new GraphCtrl(this);
    m_hGraph->setGeometry(0, 0, 100, 100);
    m_hGraph->show();
    // The control takes the focus for the view: one stop of the Tab key, not two.
    setFocusPolicy(Qt::NoFocus);
    setFocusProxy(m_hGraph);
}

GWGraphView::~GWGraphView() = default;  // the control goes with its parent widget

void GWGraphView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    if (m_hGraph) m_hGraph->setGeometry(QRect(QPoint(0, 0), event->size()));
}

void GWGraphView::ApplyDefaults() {
    if (!m_hGraph) return;
    m_hGraph->ShowLegend(true);
    m_hGraph->SetBackgroundColor(QColor(192, 192, 192));
    m_hGraph->SetGridLines(GraphCtrl::GridBoth);
    // Subsets that are given no colour of their own cycle through these.
    static const uint32_t Palette[] = {0x0000FF, 0x00FF00, 0x00FFFF, 0xFF0000,
                                       0xFF00FF, 0xFFFF00, 0xC0C0C0};
    std::vector<QColor> colors;
    for (int round = 0; round < 2; ++round) {
        for (uint32_t rgb : Palette) colors.push_back(GraphCtrl::ColorFromRgbValue(rgb));
    }
    m_hGraph->SetSubsetColors(colors);
}

void GWGraphView::SetTitles(const QString& title, const QString& subtitle) {
    if (!m_hGraph) return;
    m_hGraph->SetTitle(title);
    m_hGraph->SetSubtitle(subtitle);
}

void GWGraphView::SetYAxisLabel(const QString& label) {
    if (m_hGraph) m_hGraph->SetYAxisLabel(label);
}

void GWGraphView::SetXAxisLabel(const QString& label) {
    if (m_hGraph) m_hGraph->SetXAxisLabel(label);
}

void GWGraphView::SetPointCount(uint16_t count) {
    m_nPoints = count;
    if (m_PeakIndex > static_cast<int32_t>(count)) m_PeakIndex = -1;
    m_PeakHistory.resize(static_cast<size_t>(count) + 1, 0.0);
    // The control keeps the newest points; their times go with them.
    const size_t points = count;
    if (points < m_PointEnds.size()) {
        m_PointEnds.erase(m_PointEnds.begin(), m_PointEnds.end() - static_cast<ptrdiff_t>(points));
    } else {
        m_PointEnds.insert(m_PointEnds.begin(), points - m_PointEnds.size(), 0);
    }
    if (m_hGraph) m_hGraph->SetPointCount(count);
}

void GWGraphView::SetSubsets(const std::vector<ServiceRecord>& records) {
    const int count = static_cast<int>(records.size());
    std::map<std::string, int32_t> subsetMap;
    for (int i = 0; i < count; ++i) {
        subsetMap[records[static_cast<size_t>(i)].m_Name] = i;  // a name given twice: the later
    }
    KeepHistoryByName(records, subsetMap);
    m_SubsetMap = std::move(subsetMap);
    for (int i = 0; i < count; ++i) {
        const ServiceRecord& record = records[static_cast<size_t>(i)];
        QString label = QString::fromStdString(record.m_Name);
        if (record.m_Name != "Others") label += QStringLiteral("(%1)").arg(record.m_Port);
        if (m_hGraph) {
            m_hGraph->SetSubsetLabel(i, label);
            m_hGraph->SetSubsetColor(i, GraphCtrl::ColorFromRgbValue(record.m_Color));
            m_hGraph->SetSubsetLineStyle(i, record.m_LineStyle);
        }
    }
    m_bHasSubsets = true;
    RefreshGraph();
}

// The points drawn so far belong to services, not to line positions: a line
// that stays keeps its points wherever it moves, a new one starts from zeros
// and a removed one's points go, from the control, from the values a point
// repeats and from the peaks the top of the axis follows.
void GWGraphView::KeepHistoryByName(const std::vector<ServiceRecord>& records,
                                    const std::map<std::string, int32_t>& subsetMap) {
    std::vector<int> sources(records.size(), -1);
    std::vector<float> values(records.size(), 0.0f);
    for (size_t i = 0; i < records.size(); ++i) {
        const std::string& name = records[i].m_Name;
        const auto before = m_SubsetMap.find(name);
        // Only the line a name feeds has a history of that name.
        if (before == m_SubsetMap.end() || subsetMap.at(name) != static_cast<int32_t>(i)) continue;
        sources[i] = before->second;
        if (static_cast<size_t>(before->second) < m_SubsetValues.size()) {
            values[i] = m_SubsetValues[static_cast<size_t>(before->second)];
        }
    }
    m_SubsetValues = std::move(values);
    if (!m_hGraph) return;
    m_hGraph->RemapSubsets(sources);
    const int points = m_hGraph->PointCount();
    for (int p = 0; p < points && static_cast<size_t>(p) < m_PeakHistory.size(); ++p) {
        double peak = 0.0;
        for (int s = 0; s < m_hGraph->SubsetCount(); ++s) {
            peak = std::max(peak, static_cast<double>(m_hGraph->Value(s, points - 1 - p)));
        }
        m_PeakHistory[static_cast<size_t>(p)] = peak * 1.1;
    }
    m_PeakIndex = -1;  // the next point scans them all
}

void GWGraphView::AppendData(const std::map<std::string, uint64_t>& values) {
    // A view opened on a connected document is asked for a point by its first
    // update, before it has its points and subsets; there is nothing to plot yet.
    if (!m_bHasSubsets || m_PeakHistory.empty()) return;

    if (m_PeakIndex >= 0 && m_PeakIndex < static_cast<int32_t>(m_nPoints)) {
        ++m_PeakIndex;
    } else {
        m_PeakIndex = -1;  // the peak point is leaving the window, or none is set
    }
    m_PeakHistory.pop_back();
    m_PeakHistory.insert(m_PeakHistory.begin(), 0.0);

    double peak = 0.0;
    for (const auto& [name, value] : values) {
        auto found = m_SubsetMap.find(name);
        if (found == m_SubsetMap.end()) {
            GW_TRACE("Couldn't find subset in m_SubsetMap");
            continue;
        }
        m_SubsetValues[static_cast<size_t>(found->second)] = static_cast<float>(value);
        peak = std::max(peak, static_cast<double>(value));
    }
    if (m_hGraph) m_hGraph->AppendPoint(m_SubsetValues);
    PushPointEnd(static_cast<int64_t>(std::time(nullptr)));
    m_PeakHistory[0] = peak * 1.1;

    if (m_PeakIndex != -1) {
        // The new value must fit under the top unscaled; its headroom waits
        // for the next full scan.
        if (m_PeakHistory[static_cast<size_t>(m_PeakIndex)] < peak) {
            m_PeakIndex = 0;
            SetYMax(m_PeakHistory[0]);
            RefreshGraph();
        }
        return;
    }
    size_t largest = 0;
    for (size_t i = 1; i < m_PeakHistory.size(); ++i) {
        if (m_PeakHistory[i] > m_PeakHistory[largest]) largest = i;  // ties: the newer wins
    }
    m_PeakIndex = static_cast<int32_t>(largest);
    SetYMax(m_PeakHistory[largest]);
    RefreshGraph();
}

void GWGraphView::AppendPointLabel(const QString& label) {
    if (m_hGraph) m_hGraph->AppendPointLabel(label);
}

void GWGraphView::SetYMin(double value) {
    if (m_hGraph) m_hGraph->SetYMin(value);
}

void GWGraphView::SetYMax(double value) {
    if (m_hGraph) m_hGraph->SetYMax(value);
}

void GWGraphView::RefreshGraph() {
    if (m_hGraph) m_hGraph->Refresh();
    update();
}

void GWGraphView::CopyToClipboard() {
    if (m_hGraph) m_hGraph->CopyToClipboard(QSize(PictureWidth, PictureHeight));
}

void GWGraphView::ClearHistory() {
    if (!m_hGraph) return;
    const std::vector<float> zeros(static_cast<size_t>(m_hGraph->SubsetCount()), 0.0f);
    for (int i = 0; i < ClearedPoints; ++i) {
        m_hGraph->AppendPoint(zeros);
        PushPointEnd(0);
    }
}

void GWGraphView::PushPointEnd(int64_t end) {
    if (m_PointEnds.empty()) return;
    std::rotate(m_PointEnds.begin(), m_PointEnds.begin() + 1, m_PointEnds.end());
    m_PointEnds.back() = end;
}

int64_t GWGraphView::PointEnd(int point) const {
    if (point < 0 || static_cast<size_t>(point) >= m_PointEnds.size()) return 0;
    return m_PointEnds[static_cast<size_t>(point)];
}

void GWGraphView::CopyPointsFrom(const GWGraphView& other) {
    if (!m_hGraph || !other.m_hGraph) return;
    const GraphCtrl& from = *other.m_hGraph;
    std::vector<float> values(static_cast<size_t>(from.SubsetCount()), 0.0f);
    for (int p = 0; p < from.PointCount(); ++p) {
        for (int s = 0; s < from.SubsetCount(); ++s)
            values[static_cast<size_t>(s)] = from.Value(s, p);
        m_hGraph->AppendPoint(values);
        m_hGraph->SetPointLabel(p, from.PointLabel(p));
    }
    m_hGraph->SetYMin(from.YMin());
    m_hGraph->SetYMax(from.YMax());
    m_SubsetValues = other.m_SubsetValues;
    m_PeakHistory = other.m_PeakHistory;
    m_PeakIndex = other.m_PeakIndex;
    m_PointEnds = other.m_PointEnds;
    m_PointEnds.resize(m_nPoints, 0);
    RefreshGraph();
}

void GWGraphView::OnPrint(QPainter& painter, QPrinter& printer) {
    if (!m_hGraph) return;
    const QRectF page = printer.pageLayout().paintRectPixels(printer.resolution());
    QSizeF size(PictureWidth, PictureHeight);
    size.scale(page.size(), Qt::KeepAspectRatio);
    m_hGraph->Render(painter, QRectF(QPointF(0, 0), size));
}
