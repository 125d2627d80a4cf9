#pragma once
// The Servers view's rows: one per open session, with how it is reached, its
// state and since when, the age of its last poll, its connections, rates,
// failed logins and what did not fit, and its traffic over the last polls.
// It copies nothing: every cell is asked of the session as it is painted.
// The filter line is the grid's: a session stays when one of its
// connections meets it, or, for a line of server: terms only, when its
// server does.

#include <QAbstractTableModel>
#include <QPointer>
#include <string>
#include <vector>

#include "core/view/FilterLine.h"

class CVGLDoc;

class ServersModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        ColServer,
        ColLink,
        ColState,
        ColLastPoll,
        ColActive,
        ColFailed,
        ColInRate,
        ColOutRate,
        ColFailedLogins,
        ColNotShown,
        ColTraffic,
        ColumnCount
    };
    static constexpr int SortRole = Qt::UserRole + 1;     // numbers as numbers
    static constexpr int TrafficRole = Qt::UserRole + 2;  // QList<double>: in + out a second

    explicit ServersModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

    // False, with the reason in `error`, for a malformed line (all sessions stay).
    bool SetFilter(const std::string& text, std::string& error);
    CVGLDoc* Session(int row) const;
    // The ages and countdowns moved on: every row is painted again.
    void ClockMoved();
    // The clock of the state and poll ages; tests set their own.
    void SetNow(int64_t now) { m_Now = now; }

    // How a session is reached: "TLS", "SSH" or "plain".
    static QString LinkText(const CVGLDoc& session);
    static QString StateText(const CVGLDoc& session);

private:
    void Rebuild();
    void RowChanged(CVGLDoc* session, bool polled);
    bool Keeps(CVGLDoc& session) const;
    bool ServerMeets(const std::string& server) const;
    int64_t Now() const;
    QVariant Display(const CVGLDoc& session, int column) const;
    QVariant SortValue(const CVGLDoc& session, int column) const;

    std::vector<QPointer<CVGLDoc>> m_Rows;
    std::string m_FilterText;
    std::vector<FilterLine::Term> m_Terms;
    bool m_bServerTermsOnly = false;
    int64_t m_Now = 0;  // 0: the wall clock
};
