#include "DemoWire.h"

namespace demo {

namespace {

Body Address(const SockAddr& address) {
    return address.m_Ip == 0 ? Body{} : EncodeSockAddr(address.m_Ip, address.m_Port);
}

}  // namespace

Body WireOpen(uint32_t idHigh, uint32_t idLow, const OpenFields& fields) {
    return EncodeOpen(idHigh, idLow, fields.m_Auth, fields.m_StartTime, MonFieldText(fields.m_User),
                      Address(fields.m_Source), MonFieldText(fields.m_SourceName));
}

Body WireUpdate(uint32_t idHigh, uint32_t idLow, const UpdateFields& fields) {
    return EncodeUpdate(idHigh, idLow, MonFieldText(fields.m_Service, MonServiceLimit),
                        Address(fields.m_NextServer), MonFieldText(fields.m_NextServerName),
                        Address(fields.m_Dest), MonFieldText(fields.m_DestName), fields.m_TrafficIn,
                        fields.m_TrafficOut);
}

Body WireResult(uint32_t idHigh, uint32_t idLow, uint32_t code, const std::string& text) {
    return EncodeResult(idHigh, idLow, code, MonFieldText(text));
}

Body WireClose(uint32_t idHigh, uint32_t idLow, uint32_t endTime) {
    return EncodeClose(idHigh, idLow, endTime);
}

}  // namespace demo
