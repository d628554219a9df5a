// The decoder classes, one per supported structure type. Each implements its
// attribute table in its own source file.
#pragma once

#include "CCVSmBiosItem.h"

#define KORVIX_DECODER_BODY(Class)                                                                           \
public:                                                                                                      \
    const char* Scope() const override {                                                                     \
        return #Class "::GetTypeInstanceData";                                                               \
    }                                                                                                        \
                                                                                                             \
protected:                                                                                                   \
    void Attributes(AttributeWriter& w) const override;

// A decoder for every structure it is given.
#define KORVIX_DECODER(Class)                                                                                \
    class Class : public CCVSmBiosItem {                                                                     \
        KORVIX_DECODER_BODY(Class)                                                                           \
    }

// A decoder that refuses structures failing its signature test.
#define KORVIX_SIGNED_DECODER(Class)                                                                         \
    class Class : public CCVSmBiosItem {                                                                     \
        KORVIX_DECODER_BODY(Class)                                                                           \
        bool Accepts() const override;                                                                       \
    }

KORVIX_DECODER(CBiosItem);                 // type 0
KORVIX_DECODER(CSystemItem);               // type 1
KORVIX_DECODER(CBaseboardItem);            // type 2
KORVIX_DECODER(CEnclosureItem);            // type 3
KORVIX_DECODER(CProcessorItem);            // type 4
KORVIX_DECODER(CMemCtrlOldItem);           // type 5
KORVIX_DECODER(CMemModOldItem);            // type 6
KORVIX_DECODER(CCacheItem);                // type 7
KORVIX_DECODER(CPortItem);                 // type 8
KORVIX_DECODER(CSystemSlotItem);           // type 9
KORVIX_DECODER(COnBoardItem);              // type 10
KORVIX_DECODER(COEMStringItem);            // type 11
KORVIX_DECODER(CConfigurationStringItem);  // type 12
KORVIX_DECODER(CPhysicalMemoryArrayItem);  // type 16
KORVIX_DECODER(CPhysicalMemoryDeviceItem); // type 17
KORVIX_DECODER(CPowerSupplyItem);          // type 39
KORVIX_SIGNED_DECODER(CASFItem);           // types 128, 129
KORVIX_SIGNED_DECODER(CAMTItem);           // type 130
KORVIX_SIGNED_DECODER(COMFBoardIDItem);    // type 176
KORVIX_SIGNED_DECODER(CDDCItem);           // type 186
KORVIX_DECODER(CBiosIdentificationItem);   // type 188

#undef KORVIX_DECODER
#undef KORVIX_SIGNED_DECODER
#undef KORVIX_DECODER_BODY
