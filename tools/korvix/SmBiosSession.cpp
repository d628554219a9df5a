#include "SmBiosSession.h"

#include "RecordReader.h"
#include "common/platform/ErrorInfo.h"

HRESULT SmBiosSession::Create(const std::wstring& progId) {
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
    if (FAILED(hr)) return hr;
    return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_ISmBiosImpl, object_.PutVoid());
}

bool SmBiosSession::ComponentInitialize(const std::wstring& feature, const std::wstring& version,
                                        const std::wstring& context, HRESULT& hr) {
    Bstr f(feature.c_str()), v(version.c_str()), c(context.c_str());
    VARIANT_BOOL ok = 0;
    hr = object_->ComponentInitialize(f.Get(), v.Get(), c.Get(), &ok);
    // The component answers 1 for success, not VARIANT_TRUE: any nonzero counts.
    return SUCCEEDED(hr) && ok != 0;
}

HRESULT SmBiosSession::Initialize(std::wstring& message) {
    const HRESULT hr = object_->Initialize();
    message = ErrorDescription(TakeErrorInfo(object_.Get(), IID_ISmBiosImpl).Get());
    return hr;
}

ULONG SmBiosSession::Single(bool byIndex, uint32_t key, Record& record, HRESULT& hr) {
    Variant names, values;
    ULONG retVal = kNotFound;
    hr = byIndex
             ? object_->EnumAllInstances(key, names.Get(), values.Get(), &retVal)
             : object_->FindInstanceByHandle(static_cast<USHORT>(key), names.Get(), values.Get(), &retVal);
    if (retVal == kNotFound && hr == E_OUTOFMEMORY) return kOutOfMemory;
    record = Record();
    if (byIndex)
        record.index = key;
    else
        record.lookedUpHandle = static_cast<uint16_t>(key);
    if (retVal == kNoDecoder) {
        record.outcome = Record::Outcome::NoDecoder;
        return retVal;
    }
    if (retVal != kFound) return retVal;
    // A decoder that refuses its structure (a failed signature test) leaves
    // both outputs empty, and the query still succeeds.
    if (names->vt == VT_EMPTY && values->vt == VT_EMPTY) {
        record.outcome = Record::Outcome::NoAttributes;
        return retVal;
    }
    if (!ReadRecord(*names.Get(), *values.Get(), record)) {
        hr = E_UNEXPECTED;
        return kMalformedAnswer;
    }
    return retVal;
}

ULONG SmBiosSession::RecordAt(uint32_t index, Record& record, HRESULT& hr) {
    return Single(true, index, record, hr);
}

ULONG SmBiosSession::RecordByHandle(uint16_t handle, Record& record, HRESULT& hr) {
    return Single(false, handle, record, hr);
}

ULONG SmBiosSession::RecordsOfType(uint8_t type, std::vector<Record>& records, HRESULT& hr) {
    Variant names, values;
    ULONG retVal = kNotFound;
    hr = object_->GetAllInstancesOfType(type, names.Get(), values.Get(), &retVal);
    records.clear();
    if (retVal == kNotFound && hr == E_OUTOFMEMORY) return kOutOfMemory;
    if (retVal != kFound) return retVal;
    if (!ReadRecordList(*names.Get(), *values.Get(), records)) {
        hr = E_UNEXPECTED;
        return kMalformedAnswer;
    }
    return retVal;
}
