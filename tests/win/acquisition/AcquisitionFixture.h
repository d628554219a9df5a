// Each acquisition test: a CSmBiosImpl object created in-process, a feature
// dependency table in a fresh folder that maps "AcTorvel.TorvelAccess" to the
// scripted fake accessor (registered under a fresh CLSID and ProgID, so the
// real accessor is never involved), and every trace record in a file.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AssemblyTestSupport.h"
#include "DriverAccess.h"
#include "FakeAccessor.h"
#include "Korvix.h"
#include "TableBuilder.h"
#include "common/platform/ComWrappers.h"

// Registers fake_torvel_access.dll (beside the test executable) under a fresh
// CLSID with ProgID "KorvixAcqTest.C<hex>.1" in HKLM\Software\Classes, and
// removes both again.
class FakeAccessorRegistration {
public:
    FakeAccessorRegistration();
    ~FakeAccessorRegistration();
    FakeAccessorRegistration(const FakeAccessorRegistration&) = delete;
    FakeAccessorRegistration& operator=(const FakeAccessorRegistration&) = delete;
    const std::string& ProgId() const { return progId_; }

private:
    std::string clsidText_;
    std::string progId_;
};

class AcquisitionTest : public AssemblyTestBase {
protected:
    static constexpr const char* kFeature = "KorvixAcq";
    static constexpr const char* kVersion = "1.0";
    static constexpr const char* kContext = "Client";

    AcquisitionTest();

    // The dependency table of the feature; without `mapAccessor` it lists no
    // driver-access component.
    void WriteDependencyTable(bool mapAccessor);
    // ComponentInitialize with the test's feature context (or another
    // feature name); returns pRetVal.
    VARIANT_BOOL ComponentInitialize(const char* feature = kFeature);
    // The table the fake accessor delivers.
    void Deliver(const Bytes& table);
    // True when every query still answers RetVal 1.
    bool Uninitialised();
    // The letters of the accessor calls since the last reset of the log.
    std::string Calls() const { return std::string(fake_->log.calls); }
    void ResetLog() { fake_->log = FakeAccessorLog{}; }
    // "level|category|text|details" of the records of CSmBiosImpl::Initialize.
    std::vector<std::string> InitializeRecords() const;

    FakeAccessorScript& script() { return fake_->script; }
    FakeAccessorLog& log() { return fake_->log; }

    FakeAccessorRegistration registration_;
    LibraryHandle library_;
    FakeAccessorState* fake_ = nullptr;
    ComPtr<ISmBiosImpl> object_;
};

// A small table: BIOS (vendor "Quarnex"), one processor, end marker.
Bytes DefaultTable();
