#pragma once
// The "Graph" page of the options sheet: which services the session's graph
// shows (at most five), services the user defines by name and port, and each
// service's line colour and line style. The page edits copies of the service
// catalogue and of the graph's list; the sheet hands them back through
// ApplyToGraph, and a cancelled sheet leaves the catalogue as it was.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "gui/graph/ServiceRecord.h"
#include "gui/options/OptionPage.h"

class CheckListBox;
class ColorWell;
class GraphView;
class LineStyleListBox;
class QLineEdit;
class QListWidgetItem;
class QPushButton;

class OptionGraphDlg : public OptionPage {
    Q_OBJECT
public:
    static constexpr int ColorWellId = 142;
    static constexpr int ColorWellMessage = 1125;  // what a pick of the colour well sends
    static constexpr int MaxShownServices = 5;

    explicit OptionGraphDlg(QWidget* parent = nullptr);

    void SetGraphView(GraphView* view);
    void ApplyToGraph();

    // Handlers of the page's controls.
    void OnServiceSelChange();
    void OnAdd();
    void OnDelete();
    intptr_t OnColorWellMessage(intptr_t wParam, intptr_t lParam);  // message 1125; returns 0
    void OnLineStyleChange();
    void UpdateAddButton();
    void OfferSystemServices();

    // "name(port)", as the service list shows a service.
    static QString ServiceLine(const std::string& name, int32_t port);
    // The name of a line: its text up to the first "(".
    static std::string LineName(const QString& line);

    using ServiceMap = std::map<std::string, ServiceRecord>;
    const ServiceMap& GetServiceMap() const { return m_ServiceMap; }
    const std::vector<std::string>& GetShownServices() const { return m_ShownServices; }
    int32_t IsLimitReached() const { return m_bLimitReached; }

    ColorWell* GetColorWell() const { return m_ColorWell; }
    QLineEdit* NameEdit() const { return m_NameEdit; }
    QLineEdit* PortEdit() const { return m_PortEdit; }
    QPushButton* AddButton() const { return m_AddButton; }
    QPushButton* DeleteButton() const { return m_DeleteButton; }
    CheckListBox* ServiceCheckList() const { return m_ServiceCheckList; }
    LineStyleListBox* LineStyleList() const { return m_LineStyleList; }

protected:
    void OnInitDialog() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QListWidgetItem* AddLine(const QString& line);  // at its place in the sorted list
    int FindLine(const QString& line) const;        // -1 when absent
    QListWidgetItem* SelectedLine() const;
    void SelectLineQuietly(int row);               // without running the selection-change handler
    void ShowRecord(const ServiceRecord& record);  // line style, colour well and samples
    void ApplyLimit();
    uint32_t FreeColor(uint32_t wanted) const;  // a colour for a new line

    ColorWell* m_ColorWell;
    GraphView* m_pGraphView = nullptr;
    ServiceMap m_ServiceMap;
    std::vector<std::string> m_ShownServices;
    int32_t m_bLimitReached = 0;
    QLineEdit* m_PortEdit;
    QLineEdit* m_NameEdit;
    QPushButton* m_DeleteButton;
    CheckListBox* m_ServiceCheckList;
    LineStyleListBox* m_LineStyleList;
    QPushButton* m_AddButton;
    bool m_bSyncing = false;  // the page itself is changing the lists
};
