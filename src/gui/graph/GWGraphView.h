#pragma once
// A document view that hosts one graph control and turns it into a
// scrolling line graph fed by subset name. The top of the Y axis follows the
// largest value of the points on show, with 10 % headroom. It knows nothing
// of networks; the traffic graph derives from it.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/table/PMCTable.h"
#include "gui/framework/GWView.h"
#include "gui/graph/ServiceRecord.h"

class GraphCtrl;

class GWGraphView : public QWidget, public GWView, public TrafficSink {
    Q_OBJECT
public:
    explicit GWGraphView(QWidget* parent = nullptr);
    ~GWGraphView() override;

    QWidget* GetWidget() override { return this; }

    void ApplyDefaults();
    void SetTitles(const QString& title, const QString& subtitle);
    void SetYAxisLabel(const QString& label);
    void SetXAxisLabel(const QString& label);
    void SetPointCount(uint16_t count);
    void SetSubsets(const std::vector<ServiceRecord>& records);
    void AppendData(const std::map<std::string, uint64_t>& values) override;
    void AppendPointLabel(const QString& label);
    void SetYMin(double value);
    void SetYMax(double value);
    void RefreshGraph();
    void CopyToClipboard();  // a picture of the graph at the extent 14000 by 8000
    void ClearHistory();     // 14 points of all zeros
    // Shows what another view of the same subsets shows: its points, their
    // labels and the Y range, so that two windows of one document agree.
    void CopyPointsFrom(const GWGraphView& other);

    GraphCtrl* GetGraph() const { return m_hGraph; }
    uint16_t PointCount() const { return m_nPoints; }
    int32_t PeakIndex() const { return m_PeakIndex; }
    const std::vector<double>& PeakHistory() const { return m_PeakHistory; }
    const std::map<std::string, int32_t>& SubsetMap() const { return m_SubsetMap; }
    // When the data of a point (0 the oldest) came, in seconds since 1970;
    // 0 for a point that stands for no data (before the first, a cleared graph).
    int64_t PointEnd(int point) const;

    void OnPrint(QPainter& painter, QPrinter& printer) override;  // one page, scaled

protected:
    void resizeEvent(QResizeEvent* event) override;
    void KeepHistoryByName(const std::vector<ServiceRecord>& records,
                           const std::map<std::string, int32_t>& subsetMap);
    void PushPointEnd(int64_t end);

    GraphCtrl* m_hGraph = nullptr;
    std::vector<float> m_SubsetValues;
    bool m_bHasSubsets = false;  // SetSubsets has run
    std::map<std::string, int32_t> m_SubsetMap;
    uint16_t m_nPoints = 0;
    std::vector<double> m_PeakHistory;
    int32_t m_PeakIndex = -1;
    std::vector<int64_t> m_PointEnds;  // one per point, oldest first
};
