// Objects of the class created in this process, with a table attached as a
// successful Initialize leaves it.
#pragma once

#include "ComTestSupport.h"
#include "core/com/CSmBiosImpl.h"

inline ComPtr<ISmBiosImpl> NewObject() {
    ComPtr<ISmBiosImpl> object;
    EXPECT_EQ(CSmBiosImpl::CreateInstance(nullptr, IID_ISmBiosImpl, object.PutVoid()), S_OK);
    return object;
}

inline void Attach(ISmBiosImpl* object, const Bytes& table) {
    static_cast<CSmBiosImpl*>(object)->AttachTableForTesting(table.data(),
                                                             static_cast<uint32_t>(table.size()));
}

inline ComPtr<ISmBiosImpl> WithTable(const Bytes& table) {
    ComPtr<ISmBiosImpl> object = NewObject();
    if (object) Attach(object.Get(), table);
    return object;
}
