// Initialize where it stops: no component model, no accessor, missing
// interface, failing start and open, bad size and table answers, answers that
// cannot be converted. After every failure the object is uninitialised, keeps
// the accessor references it obtained, and the next call starts over.
#include "AcquisitionFixture.h"

namespace {

using Expected = std::vector<std::string>;

constexpr HRESULT kNotReady = static_cast<HRESULT>(0x80070015); // HRESULT_FROM_WIN32(ERROR_NOT_READY)
constexpr HRESULT kGenFailure = static_cast<HRESULT>(0x8007001F);

const std::string kEnter = "Info|Enter|Method Initialize has been entered.|";
const std::string kCreated = "Verbose|Internal|CoCreateInstance succeeded. IDriverAccessRaw loaded.|";
const std::string kServices = "Verbose|Internal|QueryInterface succeeded. (IDriverServices)|";
const std::string kOpened = "Verbose|Internal|Open Driver succeeded|";
const std::string kSized = "Verbose|Internal|Getting SMBios size succeeded|";

} // namespace

class InitializeFailure : public AcquisitionTest {
protected:
    // The next Initialize, with the default answers, runs a whole session
    // again and succeeds.
    void ExpectRecovery() {
        fake_->script = FakeAccessorScript{};
        Deliver(DefaultTable());
        ResetLog();
        EXPECT_EQ(object_->Initialize(), S_OK);
        EXPECT_EQ(Calls(), "SORRCT");
        EXPECT_EQ(log().created, 0) << "the references of the failed call are reused";
        EXPECT_FALSE(Uninitialised());
    }
};

TEST_F(InitializeFailure, WithoutComponentInitializeNothingIsCreated) {
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(log().created, 0);
    EXPECT_TRUE(Uninitialised());
    EXPECT_EQ(
        InitializeRecords(),
        (Expected{kEnter, "Error|Internal|FAIL: CoCreateInstance failed. Could not get IDriverAccessRaw.|",
                  "Error|Internal|FAIL: QueryInterface failed. (IDriverServices)|",
                  "Error|Internal|FAIL: Could not get required interfaces.|",
                  "Info|Leave|Method Initialize has been left.|E_FAIL"}));

    // Once the feature context is there, the next call gets the accessor.
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), S_OK);
    EXPECT_EQ(log().created, 1);
}

TEST_F(InitializeFailure, AnAccessorMissingFromTheDependencyTableCannotBeCreated) {
    WriteDependencyTable(false);
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(log().created, 0);
    EXPECT_TRUE(Uninitialised());
    EXPECT_EQ(
        InitializeRecords(),
        (Expected{kEnter, "Error|Internal|FAIL: CoCreateInstance failed. Could not get IDriverAccessRaw.|",
                  "Error|Internal|FAIL: QueryInterface failed. (IDriverServices)|",
                  "Error|Internal|FAIL: Could not get required interfaces.|",
                  "Info|Leave|Method Initialize has been left.|E_FAIL"}));
}

TEST_F(InitializeFailure, AnAccessorWithoutServicesIsKeptAndAskedAgain) {
    script().withoutServices = 1;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(Calls(), "");
    EXPECT_EQ(InitializeRecords(),
              (Expected{kEnter, kCreated, "Error|Internal|FAIL: QueryInterface failed. (IDriverServices)|",
                        "Error|Internal|FAIL: Could not get required interfaces.|",
                        "Info|Leave|Method Initialize has been left.|E_FAIL"}));
    EXPECT_EQ(log().alive, 1) << "the IDriverAccessRaw reference stays in the object";
    EXPECT_TRUE(Uninitialised());

    // The second call does not create another accessor; it asks the kept one
    // for the missing interface.
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(log().created, 1);
    ExpectRecovery();
}

TEST_F(InitializeFailure, StartFailureCodeIsReturnedAsItIs) {
    script().startHr = kNotReady;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), kNotReady);
    EXPECT_EQ(Calls(), "S");
    EXPECT_EQ(InitializeRecords(),
              (Expected{kEnter, kCreated, kServices, "Error|Internal|FAIL: Start of accessor/driver failed.|",
                        "Info|Leave|Method Initialize has been left.|hRes: 0x80070015"}));
    EXPECT_TRUE(Uninitialised());
    ExpectRecovery();
}

TEST_F(InitializeFailure, OpenFailureCodeIsReturnedAsItIs) {
    script().openHr = kGenFailure;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), kGenFailure);
    EXPECT_EQ(Calls(), "SO") << "the failure paths leave the accessor as it is";
    EXPECT_EQ(InitializeRecords(),
              (Expected{kEnter, kCreated, kServices, "Error|Internal|FAIL: Open of accessor/driver failed.|",
                        "Info|Leave||hRes: 0x8007001F"}));
    EXPECT_TRUE(Uninitialised());
    ExpectRecovery();
}

TEST_F(InitializeFailure, OpenWithANonZeroStatusFails) {
    script().openStatus = DA_STATUS_NOT_RUNNING;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(Calls(), "SO");
    EXPECT_EQ(InitializeRecords(),
              (Expected{kEnter, kCreated, kServices, "Error|Internal|FAIL: Open of accessor/driver failed.|",
                        "Verbose|Leave|Method Initialize has been left.|hRes = E_FAIL"}));
    EXPECT_TRUE(Uninitialised());
    ExpectRecovery();
}

TEST_F(InitializeFailure, SizeAnswerWithTwoBytesReturnedFails) {
    script().sizeBytesReturned = 2;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(Calls(), "SOR");
    EXPECT_EQ(InitializeRecords(), (Expected{kEnter, kCreated, kServices, kOpened,
                                             "Error|Internal|FAIL: Getting SMBios size failed.|",
                                             "Verbose|Leave|Method Initialize has been left.|hRes: E_FAIL"}));
    EXPECT_TRUE(Uninitialised());
    ExpectRecovery();
}

TEST_F(InitializeFailure, SizeRequestFailuresPassTheirCodeOrGiveEFail) {
    ASSERT_EQ(ComponentInitialize(), 1);
    script().sizeHr = kGenFailure;
    EXPECT_EQ(object_->Initialize(), kGenFailure);
    script().sizeHr = S_FALSE; // a success code with a status that says otherwise
    script().sizeStatus = DA_STATUS_BAD_OUTPUT_SIZE;
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(log().sizeRequests, 2);
    EXPECT_EQ(log().dataRequests, 0);
    EXPECT_TRUE(Uninitialised());
    ExpectRecovery();
}

TEST_F(InitializeFailure, SizeZeroFails) {
    script().sizeValue = 0;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(Calls(), "SOR");
    EXPECT_EQ(InitializeRecords(),
              (Expected{kEnter, kCreated, kServices, kOpened, kSized, "Verbose|Internal|SMBios size|0",
                        "Error|Internal|FAIL: Block Size of SmBios Data is 0. Return E_FAIL.|",
                        "Info|Leave|Method Initialize has been left.|E_FAIL"}));
    EXPECT_TRUE(Uninitialised());
    ExpectRecovery();
}

TEST_F(InitializeFailure, ASizeAnswerShorterThanFourBytesCarriesNoSize) {
    // Bytes returned says 4, the array holds 2: there is no size to take.
    script().sizeAnswerBytes = 2;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(log().dataRequests, 0);
    const Expected records = InitializeRecords();
    ASSERT_GE(records.size(), 2u);
    EXPECT_EQ(records[records.size() - 2],
              "Error|Internal|FAIL: Block Size of SmBios Data is 0. Return E_FAIL.|");
    EXPECT_TRUE(Uninitialised());
    ExpectRecovery();
}

TEST_F(InitializeFailure, TableRequestFailuresPassTheirCodeOrGiveEFail) {
    ASSERT_EQ(ComponentInitialize(), 1);
    script().dataHr = kNotReady;
    EXPECT_EQ(object_->Initialize(), kNotReady);
    EXPECT_EQ(Calls(), "SORR");
    {
        const Expected records = InitializeRecords();
        ASSERT_GE(records.size(), 2u);
        EXPECT_EQ(records[records.size() - 2], "Error|Internal|FAIL: Getting SMBios data failed.|");
        EXPECT_EQ(records.back(), "Verbose|Leave|Method Initialize has been left.|hRes: 0x80070015");
    }
    EXPECT_TRUE(Uninitialised());

    script().dataHr = S_OK;
    script().dataBytesReturned = static_cast<LONG>(DefaultTable().size()) - 1;
    EXPECT_EQ(object_->Initialize(), E_FAIL) << "bytes returned differs from the size";
    EXPECT_TRUE(Uninitialised());

    script().dataBytesReturned = -1;
    script().dataStatus = DA_STATUS_TABLE_UNAVAILABLE;
    EXPECT_EQ(object_->Initialize(), E_FAIL) << "a status other than 0";
    EXPECT_TRUE(Uninitialised());
    EXPECT_EQ(log().dataRequests, 3);
    ExpectRecovery();
}

TEST_F(InitializeFailure, AShortTableArrayIsAnInvalidBufferAndTheNextCallAsksAgain) {
    // Bytes returned is right, the array is one element short.
    script().dataElements = static_cast<LONG>(DefaultTable().size()) - 1;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_EQ(Calls(), "SORR");
    const Expected records = InitializeRecords();
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[records.size() - 3], "Verbose|Internal|Getting SMBios data succeeded|");
    EXPECT_EQ(records[records.size() - 2], "Error|Internal|FAIL: Invalid Buffer. Returning E_FAIL.|");
    EXPECT_EQ(records.back(), "Info|Leave|Method Initialize has been left.|E_FAIL");
    EXPECT_TRUE(Uninitialised());
    ExpectRecovery();
}

TEST_F(InitializeFailure, ALongerTableArrayIsAnInvalidBufferToo) {
    script().dataElements = static_cast<LONG>(DefaultTable().size()) + 3;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), E_FAIL);
    EXPECT_TRUE(Uninitialised());
}

TEST_F(InitializeFailure, AnUnconvertibleTableElementEndsInItsErrorCode) {
    // Element 5 holds a VT_I4 of 300: the conversion fails with an overflow.
    script().dataBadElement = 5;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), DISP_E_OVERFLOW);
    EXPECT_EQ(Calls(), "SORR");
    EXPECT_TRUE(Uninitialised());
    EXPECT_EQ(InitializeRecords().back(), "Info|Leave|Method Initialize has been left.|hRes: 0x8002000A");
    ExpectRecovery();
}

TEST_F(InitializeFailure, AnUnconvertibleSizeElementEndsInItsErrorCode) {
    script().sizeBadElement = 1;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), DISP_E_OVERFLOW);
    EXPECT_EQ(Calls(), "SOR");
    EXPECT_TRUE(Uninitialised());
    ExpectRecovery();
}

TEST_F(InitializeFailure, ReferencesObtainedByAFailedCallAreReleasedWithTheObject) {
    script().startHr = kNotReady;
    ASSERT_EQ(ComponentInitialize(), 1);
    EXPECT_EQ(object_->Initialize(), kNotReady);
    EXPECT_EQ(object_->Initialize(), kNotReady);
    EXPECT_EQ(log().created, 1);
    EXPECT_EQ(log().starts, 2);
    EXPECT_EQ(log().alive, 1);
    object_.Reset();
    EXPECT_EQ(log().alive, 0);
}
