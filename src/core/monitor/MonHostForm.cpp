#include "core/monitor/MonHostForm.h"

#include "core/monitor/MonHostName.h"

// Placeholder until the tls:// and ssh:// forms are read: the plain form only.
bool Mon_ParseHostForm(const std::string& text, MonHostForm& form) {
    MonHostForm plain;
    if (!Mon_ParseHostName(text, plain.m_Host, plain.m_Port)) return false;
    form = plain;
    return true;
}

std::string Mon_MonitorKey(const MonHostForm& form) {
    return form.m_Host + ":" + std::to_string(form.m_Port);
}
