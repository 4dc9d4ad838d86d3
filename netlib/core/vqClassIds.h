#pragma once
// Class ids understood by vqSmartPtr::CreateInstance, and interface ids.

#include <cstdint>

constexpr uint32_t CLSID_cpCSocket = 0x1005;
constexpr uint32_t CLSID_cpCTimer = 0x1006;
constexpr uint32_t CLSID_cpCMutex = 0x1008;
constexpr uint32_t CLSID_cpCQoSContext = 0x100A;
constexpr uint32_t CLSID_nwCAgentLayer = 0x2003;
constexpr uint32_t CLSID_nwCStreamDispatcher = 0x2006;
constexpr uint32_t CLSID_nwCHTTPDownloader = 0x2009;
constexpr uint32_t CLSID_nwCHttpClientExLayer = 0x200F;
constexpr uint32_t CLSID_nwCCDNLocalClientLayer = 0x2015;
constexpr uint32_t CLSID_nwCSecureSocketClientLayer = 0x2017;

constexpr uint32_t IID_nwIQoSNetStack = 0x2016;
