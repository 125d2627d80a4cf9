#pragma once
// The line-graph control: a fixed number of points per subset (series),
// scrolling left as points are appended, with titles, axis labels, a legend,
// readable Y ticks and the X labels of the points. Settings are stored at
// once; Refresh() makes the control take them up and repaint, while an
// appended point shows without one.
//
// The look of the graphs was once set through numbered properties. Those with
// an obvious meaning map onto the typed setters below:
//   2155 = 1        ShowLegend(true)
//   2320 = colour   SetBackgroundColor
//   2425 = 2        SetGridLines(GridBoth)
//   2190 = colours  SetSubsetColors / SetSubsetColor
//   2130[i] = text  SetPointLabel(i, text)
//   3055 / 3060     SetYMin / SetYMax
// The others (2180, 2240, 2165, 3325, 3310, 3408, 3090, 3286, 3210, 2600,
// 2605, 3400, 3282, 3401, 3100, 3050, 2140, 3415, 2621, 2632, 2634) have no
// counterpart and are left out.

#include <QColor>
#include <QFont>
#include <QFontMetricsF>
#include <QImage>
#include <QPen>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <span>
#include <vector>

class GraphCtrl : public QWidget {
    Q_OBJECT
public:
    enum GridLines { GridNone, GridHorizontal, GridVertical, GridBoth };

    explicit GraphCtrl(QWidget* parent = nullptr);
    ~GraphCtrl() override;

    // Texts.
    void SetTitle(const QString& title);        // main title, bold, above the plot
    void SetSubtitle(const QString& subtitle);  // second line under the title; empty: none
    void SetXAxisLabel(const QString& label);   // under the X tick labels
    void SetYAxisLabel(const QString& label);   // upright, left of the Y tick values

    // Shape. Changing either keeps the data that still fits: subsets keep
    // theirs, and of the points the newest stay (new older points are 0).
    void SetSubsetCount(int count);
    void SetPointCount(int count);
    // A new set of subsets in which subset i carries on the points of the
    // former subset sources[i]; one whose source is not a former subset
    // (-1) starts from zeros. Former subsets no source names are dropped.
    void RemapSubsets(std::span<const int> sources);

    // Subsets. The look of subset i may be set before the subset exists (a
    // default palette is kept this way); unset colours come from a palette.
    void SetSubsetLabel(int subset, const QString& label);  // legend text
    void SetSubsetColor(int subset, const QColor& color);
    void SetSubsetColors(const std::vector<QColor>& colors);  // subsets 0..size-1
    void SetSubsetLineStyle(int subset, int code);  // LineStyle code 0..6; others draw solid

    // Y axis range; the plot shows exactly [min, max] (an empty range shows [min, min + 10]).
    void SetYMin(double value);
    void SetYMax(double value);

    // Data. AppendPoint takes one value per subset (missing ones count 0),
    // drops the oldest point and repaints at once.
    void AppendPoint(std::span<const float> values);
    // X labels scroll like the points: the new label names the newest point.
    void AppendPointLabel(const QString& label);
    void SetPointLabel(int index, const QString& label);  // index 0 is the oldest point

    // Look.
    void SetBackgroundColor(const QColor& color);  // around the plot area
    void SetPlotColor(const QColor& color);        // inside the plot frame (white by default)
    void SetGridLines(GridLines lines);            // dotted lines at Y ticks and/or X points
    void ShowLegend(bool show);                    // label, colour and line sample per subset

    // Takes up everything set so far and repaints.
    void Refresh();

    // Output. The extent is in hundredths of a millimetre; the picture is
    // drawn at 10 pixels per millimetre (14000 x 8000 gives 1400 x 800).
    void CopyToClipboard(QSize extent = QSize(14000, 8000));
    QImage RenderImage(QSize extent) const;
    // Draws the whole graph into the target rectangle of any paint device.
    void Render(QPainter& painter, const QRectF& target) const;

    // What is set.
    const QString& Title() const { return m_Title; }
    const QString& Subtitle() const { return m_Subtitle; }
    const QString& XAxisLabel() const { return m_XAxisLabel; }
    const QString& YAxisLabel() const { return m_YAxisLabel; }
    int SubsetCount() const { return m_nSubsets; }
    int PointCount() const { return m_nPoints; }
    QString SubsetLabel(int subset) const;
    QColor SubsetColor(int subset) const;
    int SubsetLineStyle(int subset) const;
    float Value(int subset, int point) const;  // point 0 is the oldest
    QString PointLabel(int point) const;       // point 0 is the oldest
    double YMin() const { return m_YMin; }
    double YMax() const { return m_YMax; }
    QColor BackgroundColor() const { return m_BackgroundColor; }
    GridLines GetGridLines() const { return m_GridLines; }
    bool IsLegendShown() const { return m_bLegend; }
    // The Y axis label as it is laid out at the control's present size.
    QStringList YAxisLabelLines() const;
    // The plot's outline and the legend's area at the present size. Where
    // the two would overlap the legend is left out (an empty rectangle).
    QRectF PlotFrame() const;
    QRectF LegendRect() const;

    // The pen of a line style code, also for samples drawn elsewhere (the
    // options' line style list). Widths are multiplied by scale.
    static QPen LineStylePen(int code, const QColor& color, qreal scale = 1.0);
    // RGB values with red in the low byte, as the subsets' records carry them.
    static QColor ColorFromRgbValue(uint32_t rgb);
    static uint32_t RgbValueFromColor(const QColor& color);
    // The Y tick texts from bottom to top for a range and at most maxTicks
    // steps: round steps, large values with K, M or G.
    static QStringList YTickLabels(double min, double max, int maxTicks = 6);

    // Where a point of a subset is drawn at the present size.
    QPointF PointPosition(int subset, int point) const;

    QSize sizeHint() const override { return QSize(560, 320); }
    QSize minimumSizeHint() const override { return QSize(160, 120); }

signals:
    // The user picked the points first..last (0 is the oldest): a click
    // picks the point nearest to it, with the subset of the line it hit (-1
    // when it was far from every line); a drag across the plot picks the
    // points under the band, with no subset.
    void pointsChosen(int first, int last, int subset);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Layout {
        QRectF m_Target;
        qreal m_Scale = 1.0;  // device pixels per screen pixel
        QFont m_TextFont;
        QFont m_TitleFont;
        QString m_TitleText;  // the texts, shortened with "..." where they don't fit
        QString m_SubtitleText;
        QString m_XLabelText;
        QStringList m_YLabelLines;  // one, or two where one line would not fit
        QRectF m_TitleRect;
        QRectF m_SubtitleRect;
        QRectF m_Frame;       // the plot's outline
        QRectF m_Data;        // where the values go, inset so no line sits on the frame
        QRectF m_YLabelRect;  // before rotation, left of the ticks
        QRectF m_XLabelRect;
        qreal m_LineHeight = 0;  // of the text font
        qreal m_TickLength = 4;
        qreal m_XTickTop = 0;  // top of the X tick labels
        int m_XLabelStride = 1;
        double m_YLow = 0;  // the range shown
        double m_YHigh = 10;
        std::vector<double> m_YTicks;
        QStringList m_YTickText;
        qreal m_LegendTop = 0;
        qreal m_LegendLeft = 0;
        qreal m_LegendColumn = 0;  // width of one legend entry
        qreal m_LegendRow = 0;
        int m_LegendColumns = 1;
        QRectF m_LegendRect;  // empty when there is no room for the legend
    };

    void ComputeLayout(Layout& layout, const QPaintDevice* device, const QFont& base,
                       const QRectF& target) const;
    // What the graph is painted with: the colours set on it (printouts and
    // pictures always, the screen in a light palette), or in a dark palette
    // the palette's own, so that texts and lines stay readable on screen.
    struct Colors {
        QColor m_Background;
        QColor m_Plot;
        QColor m_Text;  // texts, axes and the frame
        QColor m_Grid;
        bool m_bDark = false;
    };
    Colors PaperColors() const;
    Colors ScreenColors() const;
    void Draw(QPainter& painter, const Layout& layout, const Colors& colors) const;
    void DrawTitles(QPainter& painter, const Layout& layout) const;
    void DrawGrid(QPainter& painter, const Layout& layout, const Colors& colors) const;
    void DrawAxes(QPainter& painter, const Layout& layout) const;
    void DrawLines(QPainter& painter, const Layout& layout, const Colors& colors) const;
    void DrawLegend(QPainter& painter, const Layout& layout, const Colors& colors) const;
    QPen SubsetPen(int subset, const Layout& layout, const Colors& colors) const;
    QRectF YLabelBox(Layout& layout, const QFontMetricsF& metrics, qreal left, qreal top,
                     qreal frameBottom) const;
    void EnsureLayout();
    int NearestPoint(qreal x) const;
    int SubsetNear(const QPointF& at) const;
    QRectF DragBand() const;
    void DrawDragBand(QPainter& painter) const;
    qreal XOf(const Layout& layout, int point) const;
    qreal YOf(const Layout& layout, double value) const;
    void Invalidate() { m_bLayoutValid = false; }
    template <class T>
    static void Grow(std::vector<T>& items, int index, const T& fill);

    QString m_Title;
    QString m_Subtitle;
    QString m_XAxisLabel;
    QString m_YAxisLabel;
    int m_nSubsets = 0;
    int m_nPoints = 0;
    std::vector<QString> m_SubsetLabels;
    std::vector<QColor> m_SubsetColors;  // invalid: from the palette
    std::vector<int> m_SubsetStyles;
    // Ring buffers: subset s, point p (0 oldest) is at s * m_nPoints + (m_Oldest + p) % m_nPoints.
    std::vector<float> m_Values;
    int m_Oldest = 0;
    std::vector<QString> m_PointLabels;
    int m_OldestLabel = 0;
    double m_YMin = 0.0;
    double m_YMax = 100.0;
    QColor m_BackgroundColor = QColor(192, 192, 192);
    QColor m_PlotColor = Qt::white;
    GridLines m_GridLines = GridHorizontal;
    bool m_bLegend = true;

    // The widget's own layout, kept from paint to paint; and scratch space
    // for one subset's line, so painting allocates nothing.
    Layout m_Layout;
    bool m_bLayoutValid = false;
    mutable std::vector<QPointF> m_Line;

    // A press inside the plot, followed until the button goes up; it is a
    // drag once it has moved further than a click would.
    bool m_bPressed = false;
    bool m_bDragging = false;
    QPointF m_PressAt;
    QPointF m_DragTo;
};
