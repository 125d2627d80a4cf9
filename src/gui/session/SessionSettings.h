#pragma once
// What a session document keeps, and what becomes the defaults of new
// sessions: the server, the update period, the columns, the host form and
// unit, and the graph's services with their colours and line styles. Never
// the live data.
//
// The text form is a JSON object with named keys whose first key,
// "VGLSession", holds the format version. Reading starts from the values
// given and takes only the keys present, so a document written before a key
// existed keeps the default for it, and a key is added to the format by one
// line in the key table of SessionSettings.cpp.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

#include "core/base/SessionLimits.h"
#include "core/table/ColumnInfo.h"
#include "gui/graph/ServiceRecord.h"

class CVGLDoc;

struct SessionSettings {
    static constexpr int FormatVersion = 1;

    QString m_Server;  // as the user typed it ("host", "host:port", "[::1]:port"); empty: none
    bool m_bConnectOnOpen = true;
    int32_t m_UpdatePeriod = DefaultUpdatePeriod;
    ColumnInfoArray m_Columns;  // in their order; titles come from the column set
    int m_SortColumn = -1;
    int m_FrozenColumns = 0;
    int32_t m_HostForm = 1;
    int32_t m_DataUnit = 0;
    int32_t m_ConnectionLimit = DefaultConnectionLimit;
    QString m_Filter;      // the grid's filter line
    int32_t m_GroupBy = 0;  // GroupBy: 0 the connections themselves
    std::vector<ServiceRecord> m_Services;  // the graph's, in order, without "Others"

    // What a session shows before anyone changes it.
    static SessionSettings Described();
    // What the document and its first grid and graph hold now.
    static SessionSettings Capture(const CVGLDoc& document);
    // Into the document and its first grid and graph (those present).
    void ApplyTo(CVGLDoc& document) const;

    QByteArray ToJson() const;
    // Reads the keys present over these settings. False, with the reason,
    // for text that is not such an object or a version this program does
    // not know; the settings are then unchanged.
    bool ReadJson(const QByteArray& text, QString& error);

    // The options part of two settings is the same (the server and whether
    // to connect are left out).
    bool SameOptions(const SessionSettings& other) const;
    bool operator==(const SessionSettings& other) const;
};
