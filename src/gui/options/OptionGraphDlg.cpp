#include "gui/options/OptionGraphDlg.h"

#include <QCompleter>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QVBoxLayout>
#include <algorithm>

#include "core/base/Trace.h"
#include "gui/framework/Dialogs.h"
#include "gui/graph/GraphView.h"
#include "gui/graph/ServiceCatalogue.h"
#include "gui/options/CheckListBox.h"
#include "gui/options/LineStyleListBox.h"
#include "gui/options/SystemServices.h"
#include "gui/toolkit/ColorWell.h"

namespace {

constexpr int MaxPort = 65535;

// Lines sort as a sorted list box sorts them: letters regardless of case first.
bool LineBefore(const QString& left, const QString& right) {
    const int folded = QString::compare(left, right, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : QString::compare(left, right, Qt::CaseSensitive) < 0;
}

}  // namespace

OptionGraphDlg::OptionGraphDlg(QWidget* parent)
    : OptionPage(parent),
      m_ColorWell(new ColorWell(ColorWellId, this)),
      m_PortEdit(new QLineEdit(this)),
      m_NameEdit(new QLineEdit(this)),
      m_DeleteButton(new QPushButton(QStringLiteral("Delete"), this)),
      m_ServiceCheckList(new CheckListBox(this)),
      m_LineStyleList(new LineStyleListBox(this)),
      m_AddButton(new QPushButton(QStringLiteral("Add"), this)) {
    m_NameEdit->setAccessibleName(QStringLiteral("Name:"));
    m_PortEdit->setAccessibleName(QStringLiteral("Port:"));
    m_PortEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), this));
    m_PortEdit->setMaxLength(5);
    m_ServiceCheckList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_ServiceCheckList->setUniformItemSizes(true);
    m_ServiceCheckList->setAccessibleName(QStringLiteral("Services"));

    auto* left = new QGridLayout;
    left->addWidget(new QLabel(QStringLiteral("Name:"), this), 0, 0);
    left->addWidget(m_NameEdit, 0, 1);
    left->addWidget(new QLabel(QStringLiteral("Port:"), this), 1, 0);
    left->addWidget(m_PortEdit, 1, 1);
    left->addWidget(m_AddButton, 1, 2);
    left->addWidget(m_ServiceCheckList, 2, 0, 1, 2);
    left->addWidget(m_DeleteButton, 2, 2, Qt::AlignBottom);
    auto* hint =
        new QLabel(QStringLiteral("Checked item(s) will be displayed in current graph"), this);
    hint->setWordWrap(true);
    left->addWidget(hint, 3, 0, 1, 2);
    left->setRowStretch(2, 1);

    auto* colorGroup = new QGroupBox(QStringLiteral("Line color:"), this);
    auto* colorLayout = new QVBoxLayout(colorGroup);
    colorLayout->addWidget(m_ColorWell, 0, Qt::AlignHCenter);
    m_ColorWell->setParent(colorGroup);
    auto* styleGroup = new QGroupBox(QStringLiteral("Line style:"), this);
    auto* styleLayout = new QVBoxLayout(styleGroup);
    styleLayout->addWidget(m_LineStyleList);
    m_LineStyleList->setParent(styleGroup);
    auto* right = new QVBoxLayout;
    right->addWidget(colorGroup);
    right->addWidget(styleGroup);
    right->addStretch();

    auto* layout = new QHBoxLayout(this);
    layout->addLayout(left, 1);
    layout->addSpacing(8);
    layout->addLayout(right);

    setTabOrder(m_NameEdit, m_PortEdit);
    setTabOrder(m_PortEdit, m_AddButton);
    setTabOrder(m_AddButton, m_ServiceCheckList);
    setTabOrder(m_ServiceCheckList, m_DeleteButton);
    setTabOrder(m_DeleteButton, m_ColorWell);
    setTabOrder(m_ColorWell, m_LineStyleList);

    // A click on a line (also the line already selected), a click on its
    // check box or the Space key, or a move with the keyboard.
    connect(m_ServiceCheckList, &QListWidget::itemClicked, this,
            &OptionGraphDlg::OnServiceSelChange);
    connect(m_ServiceCheckList, &QListWidget::itemSelectionChanged, this, [this] {
        if (!m_bSyncing) OnServiceSelChange();
    });
    connect(m_ServiceCheckList, &QListWidget::itemChanged, this, [this] {
        if (!m_bSyncing) OnServiceSelChange();
    });
    connect(m_AddButton, &QPushButton::clicked, this, &OptionGraphDlg::OnAdd);
    connect(m_DeleteButton, &QPushButton::clicked, this, &OptionGraphDlg::OnDelete);
    connect(m_ColorWell, &ColorWell::colorPicked, this, [this](int id, uint32_t color) {
        OnColorWellMessage(id, static_cast<intptr_t>(color));
    });
    connect(m_LineStyleList, &QListWidget::currentRowChanged, this, [this] {
        if (!m_bSyncing) OnLineStyleChange();
    });
    connect(m_PortEdit, &QLineEdit::textChanged, this, &OptionGraphDlg::UpdateAddButton);
    connect(m_NameEdit, &QLineEdit::textChanged, this, &OptionGraphDlg::UpdateAddButton);
    OfferSystemServices();
    m_NameEdit->installEventFilter(this);
}

QString OptionGraphDlg::ServiceLine(const std::string& name, int32_t port) {
    return QString::fromStdString(name) + QLatin1Char('(') + QString::number(port) +
           QLatin1Char(')');
}

std::string OptionGraphDlg::LineName(const QString& line) {
    const qsizetype open = line.indexOf(QLatin1Char('('));
    return (open < 0 ? line : line.left(open)).toStdString();
}

void OptionGraphDlg::SetGraphView(GraphView* view) {
    if (!view) return;
    m_pGraphView = view;
    for (const auto& [name, record] : ServiceCatalogue::Services()) m_ServiceMap[name] = record;
    m_ShownServices = view->GetServiceList();
}

void OptionGraphDlg::OnInitDialog() {
    m_bSyncing = true;
    m_LineStyleList->SetSampleColor(0x0000FF);
    m_LineStyleList->AddStyleItems();
    for (const auto& [name, record] : m_ServiceMap) AddLine(ServiceLine(name, record.m_Port));
    for (const std::string& name : m_ShownServices) {
        const auto found = m_ServiceMap.find(name);
        if (found == m_ServiceMap.end()) continue;  // "Others" among them
        const int row = FindLine(ServiceLine(found->first, found->second.m_Port));
        if (row >= 0) m_ServiceCheckList->item(row)->setCheckState(Qt::Checked);
    }
    m_bSyncing = false;
    m_AddButton->setEnabled(false);
    if (m_ServiceCheckList->count() > 0) {
        m_DeleteButton->setEnabled(true);
        SelectLineQuietly(0);
        const auto found = m_ServiceMap.find(LineName(m_ServiceCheckList->item(0)->text()));
        if (found != m_ServiceMap.end()) ShowRecord(found->second);
    } else {
        m_DeleteButton->setEnabled(false);
    }
}

bool OptionGraphDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_NameEdit && event->type() == QEvent::FocusIn) {
        UpdateAddButton();
        m_DeleteButton->setEnabled(false);
    }
    return OptionPage::eventFilter(watched, event);
}

QListWidgetItem* OptionGraphDlg::AddLine(const QString& line) {
    int row = 0;
    while (row < m_ServiceCheckList->count() &&
           !LineBefore(line, m_ServiceCheckList->item(row)->text())) {
        ++row;
    }
    auto* item = new QListWidgetItem(line);
    item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsUserCheckable | Qt::ItemIsEnabled);
    item->setCheckState(Qt::Unchecked);
    const bool syncing = m_bSyncing;
    m_bSyncing = true;
    m_ServiceCheckList->insertItem(row, item);
    m_bSyncing = syncing;
    return item;
}

int OptionGraphDlg::FindLine(const QString& line) const {
    for (int row = 0; row < m_ServiceCheckList->count(); ++row) {
        if (m_ServiceCheckList->item(row)->text() == line) return row;
    }
    return -1;
}

QListWidgetItem* OptionGraphDlg::SelectedLine() const {
    const QList<QListWidgetItem*> selected = m_ServiceCheckList->selectedItems();
    return selected.isEmpty() ? nullptr : selected.front();
}

void OptionGraphDlg::SelectLineQuietly(int row) {
    const bool syncing = m_bSyncing;
    m_bSyncing = true;
    if (row < 0) {
        m_ServiceCheckList->clearSelection();
        m_ServiceCheckList->setCurrentRow(-1);
    } else {
        m_ServiceCheckList->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
    }
    m_bSyncing = syncing;
}

void OptionGraphDlg::ShowRecord(const ServiceRecord& record) {
    const bool syncing = m_bSyncing;
    m_bSyncing = true;
    m_LineStyleList->setCurrentRow(record.m_LineStyle, QItemSelectionModel::ClearAndSelect);
    m_bSyncing = syncing;
    m_ColorWell->SetColor(record.m_Color);
    m_LineStyleList->SetSampleColor(record.m_Color);
}

// The name box completes the names of the system's services database, and a
// known name fills in its port while the port box is empty, so that today's
// services (https, ssh) are added with their ports.
void OptionGraphDlg::OfferSystemServices() {
    QStringList names;
    for (const auto& [name, port] : SystemServices::TcpPorts()) names << name;
    auto* completer = new QCompleter(names, m_NameEdit);
    completer->setCaseSensitivity(Qt::CaseInsensitive);
    m_NameEdit->setCompleter(completer);
    connect(m_NameEdit, &QLineEdit::textChanged, this, [this](const QString& name) {
        const auto& ports = SystemServices::TcpPorts();
        const auto found = ports.find(name);
        if (found != ports.end() && m_PortEdit->text().isEmpty()) {
            m_PortEdit->setText(QString::number(found->second));
        }
    });
}

void OptionGraphDlg::UpdateAddButton() {
    const QString name = m_NameEdit->text();
    const QString portText = m_PortEdit->text();
    bool enable = !name.isEmpty() && !portText.isEmpty();
    if (enable) {
        // A name with "(" could not be matched back to its record, "Others" is
        // the graph's own subset, and a port is 16 bits.
        bool isNumber = false;
        const int port = portText.toInt(&isNumber);
        enable = isNumber && port >= 0 && port <= MaxPort && !name.contains(QLatin1Char('(')) &&
                 name != QLatin1String("Others") &&
                 FindLine(ServiceLine(name.toStdString(), port)) < 0;
    }
    m_AddButton->setEnabled(enable);
}

void OptionGraphDlg::ApplyLimit() {
    m_ShownServices.clear();
    std::vector<int> kept;
    for (int row = 0;
         row < m_ServiceCheckList->count() && static_cast<int>(kept.size()) < MaxShownServices;
         ++row) {
        QListWidgetItem* item = m_ServiceCheckList->item(row);
        if (item->checkState() != Qt::Checked) continue;
        m_ShownServices.push_back(LineName(item->text()));
        kept.push_back(row);
    }
    const bool syncing = m_bSyncing;
    m_bSyncing = true;
    if (static_cast<int>(kept.size()) == MaxShownServices) {
        for (int row = 0; row < m_ServiceCheckList->count(); ++row) {
            QListWidgetItem* item = m_ServiceCheckList->item(row);
            const bool stays = std::find(kept.begin(), kept.end(), row) != kept.end();
            if (!stays && item->checkState() == Qt::Checked) item->setCheckState(Qt::Unchecked);
            m_ServiceCheckList->EnableLine(item, stays);
        }
        m_bLimitReached = 1;
    } else if (m_bLimitReached == 1) {
        for (int row = 0; row < m_ServiceCheckList->count(); ++row) {
            m_ServiceCheckList->EnableLine(m_ServiceCheckList->item(row), true);
        }
        m_bLimitReached = 0;
    }
    m_bSyncing = syncing;
}

void OptionGraphDlg::OnServiceSelChange() {
    ApplyLimit();
    if (const QListWidgetItem* line = SelectedLine()) {
        const std::string name = LineName(line->text());
        const auto found = m_ServiceMap.find(name);
        if (found != m_ServiceMap.end()) {
            ShowRecord(found->second);
            m_NameEdit->setText(QString::fromStdString(found->second.m_Name));
            m_PortEdit->setText(QString::number(found->second.m_Port));
        } else {
            // The line's record was replaced under its name: show what the line says.
            const QString text = line->text();
            const qsizetype open = text.indexOf(QLatin1Char('('));
            m_NameEdit->setText(QString::fromStdString(name));
            m_PortEdit->setText(open < 0 ? QString() : text.mid(open + 1).chopped(1));
        }
        m_DeleteButton->setEnabled(true);
    }
    SetModified();
}

void OptionGraphDlg::OnAdd() {
    const QString name = m_NameEdit->text();
    const QString portText = m_PortEdit->text();
    if (name.isEmpty() || portText.isEmpty()) return;
    bool isNumber = false;
    const int port = portText.toInt(&isNumber);
    if (!isNumber || port < 0 || port > MaxPort || name.contains(QLatin1Char('(')) ||
        name == QLatin1String("Others")) {
        return;
    }
    // The line is built from the port's value, so "070" gives the line of port 70.
    const QString line = ServiceLine(name.toStdString(), port);
    if (FindLine(line) >= 0) return;

    QListWidgetItem* item = AddLine(line);
    if (m_bLimitReached == 1) {
        const bool syncing = m_bSyncing;
        m_bSyncing = true;
        m_ServiceCheckList->EnableLine(item, false);
        m_bSyncing = syncing;
    }
    ServiceRecord record;
    record.m_Name = name.toStdString();
    record.m_bUserDefined = 1;
    record.m_Port = port;
    record.m_Color = FreeColor(m_ColorWell->GetColor());
    record.m_LineStyle = std::max(0, m_LineStyleList->currentRow());
    m_ServiceMap[record.m_Name] = record;
    ShowRecord(record);

    UpdateAddButton();
    SelectLineQuietly(m_ServiceCheckList->row(item));
    m_DeleteButton->setEnabled(true);
    SetModified();
}

// The well shows the selected line's colour, so a new line would take the
// colour of a line already on show. It keeps the well's colour only when no
// other line has it; else it takes the first of the well's colours that no
// line has, or at least none on show. Black is the "Others" line's, and
// white and light grey vanish into the graph's background.
uint32_t OptionGraphDlg::FreeColor(uint32_t wanted) const {
    auto usedBy = [this](uint32_t color, bool shownOnly) {
        for (const auto& [name, record] : m_ServiceMap) {
            const bool shown = std::find(m_ShownServices.begin(), m_ShownServices.end(), name) !=
                               m_ShownServices.end();
            if (record.m_Color == color && (shown || !shownOnly)) return true;
        }
        return false;
    };
    if (!usedBy(wanted, false)) return wanted;
    for (bool shownOnly : {false, true}) {
        for (uint32_t color : ColorWell::Palette()) {
            if (color == 0x000000 || color == 0xFFFFFF || color == 0xC0C0C0) continue;
            if (!usedBy(color, shownOnly)) return color;
        }
    }
    return wanted;
}

void OptionGraphDlg::OnDelete() {
    const QListWidgetItem* line = SelectedLine();
    if (!line || m_ServiceCheckList->count() == 0) {
        GW_TRACE("No item selected");
        return;
    }
    const auto found = m_ServiceMap.find(LineName(line->text()));
    if (found == m_ServiceMap.end()) {
        GW_TRACE("Can not find selected service in the map");
        return;
    }
    if (found->second.m_bUserDefined == 0) {
        GWMessageBox(QStringLiteral("You can not delete predefined services.\n"
                                    "Check to display in the current graph.\n"
                                    "Uncheck to remove from the current graph."),
                     window());
        return;
    }
    m_ServiceMap.erase(found);
    const int row = m_ServiceCheckList->row(line);
    const bool syncing = m_bSyncing;
    m_bSyncing = true;
    delete m_ServiceCheckList->takeItem(row);
    m_bSyncing = syncing;
    const int count = m_ServiceCheckList->count();
    if (count == 0) {
        SelectLineQuietly(-1);
        m_DeleteButton->setEnabled(false);
    } else {
        SelectLineQuietly(std::min(row, count - 1));
    }
    SetModified();
}

intptr_t OptionGraphDlg::OnColorWellMessage(intptr_t wParam, intptr_t lParam) {
    if (wParam != ColorWellId) {
        GW_TRACE("Who else is using this message?!?");
        return 0;
    }
    m_LineStyleList->SetSampleColor(static_cast<uint32_t>(lParam));
    if (const QListWidgetItem* line = SelectedLine()) {
        const auto found = m_ServiceMap.find(LineName(line->text()));
        if (found != m_ServiceMap.end()) {
            found->second.m_Color = m_ColorWell->GetColor();
            SetModified();
        } else {
            GW_TRACE("Subset not found");
        }
    }
    return 0;
}

void OptionGraphDlg::OnLineStyleChange() {
    const QListWidgetItem* line = SelectedLine();
    if (!line) return;
    const auto found = m_ServiceMap.find(LineName(line->text()));
    if (found == m_ServiceMap.end()) {
        GW_TRACE("Subset not found");
        return;
    }
    found->second.m_LineStyle = m_LineStyleList->currentRow();
    SetModified();
}

void OptionGraphDlg::ApplyToGraph() {
    if (!m_pGraphView) return;
    ServiceCatalogue::Merge(m_ServiceMap);
    m_pGraphView->SetServiceList(m_ShownServices);
    m_pGraphView->update();
}
