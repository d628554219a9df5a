// Conversion between a byte buffer and the byte-array VARIANT exchanged with
// the driver-access component: VT_ARRAY | VT_VARIANT, one dimension, every
// element a VT_UI1 VARIANT holding one byte.
//
// One object converts in one direction. Built from a buffer, it hands out the
// VARIANT (GetVariant); the buffer stays the caller's. Built from a VARIANT, it
// keeps a copy of it and hands out a buffer it allocates and owns
// (GetBufferPointer); the buffer lives until the object is destroyed or the
// next GetBufferPointer call.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <memory>

#include "common/platform/ComWrappers.h"

// A failed VARIANT operation (copy or element conversion) with its HRESULT.
class CCComError : public std::exception {
public:
    explicit CCComError(HRESULT hr) noexcept : hr_(hr) {}
    HRESULT Error() const noexcept { return hr_; }
    const char* what() const noexcept override { return "VARIANT conversion failed"; }

private:
    HRESULT hr_;
};

template <class T> class CCVariantConversion;

template <> class CCVariantConversion<unsigned char> {
public:
    // Converts `dwCount` bytes at `pBuffer`; the buffer is not copied and must
    // outlive the object.
    CCVariantConversion(unsigned char* pBuffer, DWORD dwCount);
    // Keeps a copy of `*pvtInput` (arrays are duplicated). Throws CCComError:
    // E_POINTER for a null pointer, or the code of a failed copy.
    explicit CCVariantConversion(const VARIANT* pvtInput);
    ~CCVariantConversion();
    CCVariantConversion(const CCVariantConversion&) = delete;
    CCVariantConversion& operator=(const CCVariantConversion&) = delete;

    // Built from a buffer: the byte-array VARIANT of the buffer (a buffer of
    // null leaves `pvt` untouched). Built from a VARIANT: a copy of it,
    // replacing what `pvt` held.
    void GetVariant(VARIANT* pvt);
    // Built from a VARIANT: converts it into a new buffer (freeing the one of
    // an earlier call). Anything but a one-dimensional array of VARIANT, and
    // an empty array, give a count of 0 and a null buffer. An element that
    // cannot be turned into VT_UI1 throws CCComError, and so does a buffer
    // that cannot be allocated (E_OUTOFMEMORY). Writes the count to *pCount
    // and returns the buffer.
    unsigned char* GetBufferPointer(DWORD* pCount);

    // Buffer -> VARIANT. Overwrites `pvt` without clearing it. False when an
    // element could not be stored (the array is handed out all the same).
    bool FillVariant(VARIANT* pvt);
    // VARIANT -> bytes: writes the element count to *pCount and, when
    // `pBuffer` is not null, the bytes (it must hold that many). Writes nothing
    // when the VARIANT is not an array of VARIANT.
    void FillBuffer(unsigned char* pBuffer, DWORD* pCount);

private:
    DWORD count_ = 0;
    unsigned char* buffer_ = nullptr;
    Variant variant_;
    bool external_;
    std::unique_ptr<unsigned char[]> owned_; // buffer_ when built from a VARIANT
};
