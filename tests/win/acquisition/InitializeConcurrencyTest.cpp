// Several threads calling Initialize on one object: the acquisitions run one
// after the other, and a successful one ends the others at once.
#include "AcquisitionFixture.h"

#include <thread>

namespace {

constexpr int kThreads = 8;

// Calls Initialize on `object` from kThreads threads at once; returns their
// results.
std::vector<HRESULT> InitializeFromThreads(ISmBiosImpl* object) {
    std::vector<HRESULT> results(kThreads, E_UNEXPECTED);
    std::vector<std::thread> threads;
    HANDLE go = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    UniqueHandle goOwner(go);
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            ComApartment apartment;
            WaitForSingleObject(go, INFINITE);
            results[i] = object->Initialize();
        });
    Sleep(50);
    SetEvent(go);
    for (auto& t : threads)
        t.join();
    return results;
}

} // namespace

class InitializeConcurrency : public AcquisitionTest {};

TEST_F(InitializeConcurrency, OneAcquisitionServesAllThreads) {
    script().requestDelayMs = 20;
    ASSERT_EQ(ComponentInitialize(), 1);
    const std::vector<HRESULT> results = InitializeFromThreads(object_.Get());
    EXPECT_EQ(results, std::vector<HRESULT>(kThreads, S_OK));
    EXPECT_EQ(log().created, 1);
    EXPECT_EQ(log().rawRequests, 2);
    EXPECT_EQ(log().starts, 1);
    EXPECT_EQ(log().overlappingRequests, 0);
    EXPECT_FALSE(Uninitialised());
}

TEST_F(InitializeConcurrency, FailingAcquisitionsRunOneAfterTheOther) {
    // Every attempt fails in the table request; each thread runs its own
    // session, never two at once.
    script().requestDelayMs = 5;
    script().dataElements = 3;
    ASSERT_EQ(ComponentInitialize(), 1);
    const std::vector<HRESULT> results = InitializeFromThreads(object_.Get());
    EXPECT_EQ(results, std::vector<HRESULT>(kThreads, E_FAIL));
    EXPECT_EQ(log().created, 1);
    EXPECT_EQ(log().dataRequests, kThreads);
    EXPECT_EQ(log().overlappingRequests, 0);
    EXPECT_TRUE(Uninitialised());
}

TEST_F(InitializeConcurrency, AConversionFailureNeverLetsAnotherThreadSeeAHalfAcquiredTable) {
    // The table answer cannot be converted. No thread may report success for
    // a table that was never attached.
    script().requestDelayMs = 5;
    script().dataBadElement = 0;
    ASSERT_EQ(ComponentInitialize(), 1);
    for (int round = 0; round < 5; ++round) {
        const std::vector<HRESULT> results = InitializeFromThreads(object_.Get());
        EXPECT_EQ(results, std::vector<HRESULT>(kThreads, DISP_E_OVERFLOW)) << "round " << round;
    }
    EXPECT_EQ(log().dataRequests, 5 * kThreads);
    EXPECT_EQ(log().overlappingRequests, 0);
    EXPECT_TRUE(Uninitialised());
}
