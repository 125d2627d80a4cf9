#pragma once
// Connections made from the monitor's own records, for the views over the table.

#include <memory>
#include <string>
#include <vector>

#include "core/monitor/MonStream.h"
#include "core/table/EntryObj.h"
#include "support/RecordEncoder.h"

// The cases name only the fields that matter to them; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

struct Connection {
    uint32_t m_Id = 1;
    std::string m_User;
    std::string m_Source = "10.0.0.1";
    std::string m_SourceName;
    std::string m_Dest = "93.184.216.34";
    std::string m_DestName;
    std::string m_Service = "www";
    uint32_t m_In = 0;
    uint32_t m_Out = 0;
    uint32_t m_Failure = 0;  // a result code; with m_bClosed the connection failed
    bool m_bClosed = false;
    uint16_t m_SourcePort = 0;
    uint16_t m_DestPort = 0;
};

class ViewFixture {
protected:
    const EntryObj* Add(const Connection& c) {
        auto entry = std::make_unique<EntryObj>();
        uint64_t delta = 0;
        Apply(*entry,
              EncodeOpen(1, c.m_Id, 2, 1765000000, c.m_User,
                         EncodeSockAddr(c.m_Source, c.m_SourcePort), c.m_SourceName),
              delta);
        Apply(*entry,
              EncodeUpdate(1, c.m_Id, c.m_Service, {}, "", EncodeSockAddr(c.m_Dest, c.m_DestPort),
                           c.m_DestName, c.m_In, c.m_Out),
              delta);
        if (c.m_Failure != 0) Apply(*entry, EncodeResult(1, c.m_Id, c.m_Failure, "refused"), delta);
        if (c.m_bClosed) Apply(*entry, EncodeClose(1, c.m_Id), delta);
        entry->SetDisplay(1, 0, 1765000100);
        m_Entries.push_back(std::move(entry));
        m_View.push_back(m_Entries.back().get());
        return m_View.back();
    }

    static void Apply(EntryObj& entry, const MonBytes& body, uint64_t& delta) {
        MonitorRecord record{};
        Mon_Decode(static_cast<uint16_t>(body.size()), body.data(), &record);
        entry.Apply(record, delta);
    }

    std::vector<std::unique_ptr<EntryObj>> m_Entries;
    std::vector<const EntryObj*> m_View;
};
