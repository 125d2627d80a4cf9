#include "gui/control/ControlConfirmDlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// Beyond this many the dialog says how many more there are.
constexpr size_t ListedValues = 6;

QString Listed(const std::vector<std::string>& values) {
    QStringList lines;
    for (size_t i = 0; i < values.size() && i < ListedValues; ++i) {
        lines << QStringLiteral("    ") + QString::fromStdString(values[i]);
    }
    if (values.size() > ListedValues) {
        lines << QStringLiteral("    and %1 more").arg(values.size() - ListedValues);
    }
    return lines.join(QLatin1Char('\n'));
}

const std::vector<std::string>& ValuesOf(const ControlTargets& targets, MonBlockWhat what) {
    switch (what) {
        case MonBlockWhat::User:
            return targets.m_Users;
        case MonBlockWhat::Client:
            return targets.m_Clients;
        case MonBlockWhat::Destination:
            break;
    }
    return targets.m_Destinations;
}

QString Plural(size_t count, const char* one, const char* many) {
    return QStringLiteral("%1 %2").arg(count).arg(QString::fromLatin1(count == 1 ? one : many));
}

}  // namespace

const std::vector<std::pair<uint32_t, const char*>>& ControlConfirmDlg::Durations() {
    static const std::vector<std::pair<uint32_t, const char*>> durations = {
        {15 * 60, "for 15 minutes"}, {3600, "for 1 hour"},      {8 * 3600, "for 8 hours"},
        {86400, "for 1 day"},        {7 * 86400, "for 1 week"}, {0, "until lifted"}};
    return durations;
}

ControlConfirmDlg::ControlConfirmDlg(MonControlOp op, MonBlockWhat what,
                                     const ControlTargets& targets, const QString& server,
                                     QWidget* parent)
    : QDialog(parent), m_Op(op), m_What(what), m_Targets(targets), m_Server(server) {
    auto* layout = new QVBoxLayout(this);
    m_pSummary = new QLabel(this);
    m_pSummary->setWordWrap(true);
    m_pSummary->setTextFormat(Qt::PlainText);
    layout->addWidget(m_pSummary);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Cancel, this);
    m_pAct = buttons->addButton(QString(), QDialogButtonBox::AcceptRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    if (op == MonControlOp::Close) {
        BuildClose();
    } else {
        BuildBlock();
        auto* form = new QFormLayout;
        if (m_pValue)
            form->addRow(QString::fromLatin1(MonBlockWhatName(what)).append(':'), m_pValue);
        form->addRow(QStringLiteral("Block:"), m_pDuration);
        form->addRow(QStringLiteral("Note:"), m_pNote);
        form->addRow(QString(), m_pCloseOpen);
        layout->addLayout(form);
        m_pProblem = new QLabel(this);
        m_pProblem->setStyleSheet(QStringLiteral("color: #b00020"));
        layout->addWidget(m_pProblem);
    }
    layout->addWidget(buttons);
    m_pAct->setDefault(true);
    UpdateSummary();
}

void ControlConfirmDlg::BuildClose() {
    setWindowTitle(QStringLiteral("Close Connections"));
    m_pAct->setText(m_Targets.m_Open.size() == 1 ? QStringLiteral("Close Connection")
                                                 : QStringLiteral("Close Connections"));
}

void ControlConfirmDlg::BuildBlock() {
    const QString name = QString::fromLatin1(MonBlockWhatName(m_What));
    setWindowTitle(QStringLiteral("Block ") + name.at(0).toUpper() + name.mid(1));
    m_pAct->setText(QStringLiteral("Block"));
    const std::vector<std::string>& values = ValuesOf(m_Targets, m_What);
    if (values.size() == 1) {
        m_pValue = new QLineEdit(QString::fromStdString(values.front()), this);
        connect(m_pValue, &QLineEdit::textChanged, this, &ControlConfirmDlg::UpdateSummary);
    }
    m_pDuration = new QComboBox(this);
    for (const auto& [seconds, text] : Durations()) {
        m_pDuration->addItem(QString::fromLatin1(text), seconds);
    }
    m_pDuration->setCurrentIndex(1);  // an hour: long enough to look into it
    connect(m_pDuration, &QComboBox::currentIndexChanged, this, &ControlConfirmDlg::UpdateSummary);
    m_pNote = new QLineEdit(this);
    m_pNote->setPlaceholderText(QStringLiteral("why, for whoever lifts it"));
    m_pNote->setMaxLength(static_cast<int>(MonTextLimit));
    m_pCloseOpen = new QCheckBox(QStringLiteral("Close the open connections it covers now"), this);
    m_pCloseOpen->setChecked(true);
    connect(m_pCloseOpen, &QCheckBox::toggled, this, &ControlConfirmDlg::UpdateSummary);
}

std::vector<std::string> ControlConfirmDlg::Values() const {
    if (m_pValue) return {m_pValue->text().trimmed().toStdString()};
    return ValuesOf(m_Targets, m_What);
}

void ControlConfirmDlg::UpdateSummary() {
    if (m_Op == MonControlOp::Close) {
        m_pSummary->setText(
            QStringLiteral("Close %1 on %2?\n%3\n\nTheir clients see the connection end at "
                           "once, and the connections end as closed by you.")
                .arg(Plural(m_Targets.m_Open.size(), "open connection", "open connections"),
                     m_Server, Listed(m_Targets.m_OpenText)));
        return;
    }
    const std::vector<std::string> values = Values();
    const bool many = values.size() > 1;
    const char* const phrases[][2] = {{"of the user", "of the users"},
                                      {"from the client", "from the clients"},
                                      {"to the destination", "to the destinations"}};
    const char* phrase = phrases[static_cast<int>(m_What) - 1][many ? 1 : 0];
    QString text = QStringLiteral("Refuse new connections on %1 %2:\n%3\n\n")
                       .arg(m_Server, QString::fromLatin1(phrase), Listed(values));
    text += m_pDuration->currentText() == QLatin1String("until lifted")
                ? QStringLiteral("The block stays until it is lifted in Blocks.")
                : QStringLiteral("The block ends on its own %1 from now.")
                      .arg(m_pDuration->currentText().mid(4));
    if (m_pCloseOpen->isChecked())
        text += QStringLiteral(" Open connections it covers are closed now.");
    m_pSummary->setText(text);
    QString problem;
    for (const std::string& value : values) {
        problem = QString::fromStdString(MonBlockValueProblem(m_What, value));
        if (!problem.isEmpty()) break;
    }
    m_pProblem->setText(problem);
    m_pProblem->setVisible(!problem.isEmpty());
    m_pAct->setEnabled(problem.isEmpty());
}

std::vector<MonControlRequest> ControlConfirmDlg::Requests() const {
    std::vector<MonControlRequest> requests;
    if (m_Op == MonControlOp::Close) {
        for (const auto& [high, low] : m_Targets.m_Open) {
            MonControlRequest request;
            request.m_Op = MonControlOp::Close;
            request.m_IdHigh = high;
            request.m_IdLow = low;
            requests.push_back(request);
        }
        return requests;
    }
    for (const std::string& value : Values()) {
        MonControlRequest request;
        request.m_Op = MonControlOp::Block;
        request.m_What = m_What;
        request.m_Value = value;
        request.m_Seconds = m_pDuration->currentData().toUInt();
        request.m_bCloseOpen = m_pCloseOpen->isChecked();
        request.m_Note = m_pNote->text().trimmed().toStdString();
        requests.push_back(request);
    }
    return requests;
}
