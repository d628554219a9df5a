// Copies the component's attribute records (parallel VT_ARRAY | VT_VARIANT
// arrays of names and values) into Record objects.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <vector>

#include "Record.h"

// One record; false when the VARIANTs are not two arrays of equal length.
bool ReadRecord(const VARIANT& names, const VARIANT& values, Record& record);

// The nested answer of GetAllInstancesOfType: arrays whose elements are
// record arrays, one per structure; two empty VARIANTs are no structure.
bool ReadRecordList(const VARIANT& names, const VARIANT& values, std::vector<Record>& records);

// One value, typed as the component typed it.
AttributeValue ReadValue(const VARIANT& value);
