#include "netlib/core/cpCMutex.h"
#include "netlib/core/vqCRefCounted.h"
#include "netlib/core/vqClassIds.h"
#include "netlib/core/vqSmartPtr.h"

#include <gtest/gtest.h>

namespace {

class CountedProbe : public vqCRefCounted<vqIUnknown> {
public:
    explicit CountedProbe(int* destroyed) : m_destroyed(destroyed) {}
    ~CountedProbe() override { ++*m_destroyed; }

private:
    int* m_destroyed;
};

} // namespace

TEST(ObjectModel, ReleaseOfTheLastReferenceDestroysAndStillAnswersOk)
{
    int destroyed = 0;
    auto* probe = new CountedProbe(&destroyed);
    EXPECT_EQ(probe->AddRef(), VQ_OK);
    EXPECT_EQ(probe->AddRef(), VQ_OK);
    EXPECT_EQ(probe->Release(), VQ_OK);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(probe->Release(), VQ_OK);
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjectModel, SmartPointerHoldsExactlyOneReference)
{
    int destroyed = 0;
    auto* probe = new CountedProbe(&destroyed);
    {
        vqSmartPtr first(probe);
        EXPECT_EQ(probe->RefCount(), 1);
        vqSmartPtr second(first);
        EXPECT_EQ(probe->RefCount(), 2);
        second.Assign(probe); // the same pointer: no change
        EXPECT_EQ(probe->RefCount(), 2);
        second.Assign(first);
        EXPECT_EQ(probe->RefCount(), 2);
        second.Assign(nullptr);
        EXPECT_EQ(probe->RefCount(), 1);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(ObjectModel, AssignKeepsTheNewObjectAliveWhenTheOldOneHeldIt)
{
    // The old object owns the only other reference to the new one: releasing
    // the old object first must not destroy the object being assigned.
    struct Holder : vqCRefCounted<vqIUnknown> {
        vqSmartPtr inner;
    };
    int destroyed = 0;
    auto* inner = new CountedProbe(&destroyed);
    auto* holder = new Holder();
    holder->inner.Assign(inner);
    vqSmartPtr pointer(holder);
    pointer.Assign(inner);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(inner->RefCount(), 1);
}

TEST(ObjectModel, CreateInstanceTakesTheFirstReference)
{
    vqSmartPtr pointer;
    ASSERT_TRUE(pointer.CreateInstance(CLSID_cpCMutex));
    auto* mutex = pointer.As<cpCMutex>();
    EXPECT_EQ(mutex->RefCount(), 1);
    EXPECT_EQ(mutex->Lock(), VQ_OK_PLATFORM);
    EXPECT_EQ(mutex->Lock(), VQ_OK_PLATFORM); // recursive
    EXPECT_EQ(mutex->Unlock(), VQ_OK_PLATFORM);
    EXPECT_EQ(mutex->Unlock(), VQ_OK_PLATFORM);
}

TEST(ObjectModel, UnknownClassIdEmptiesThePointer)
{
    int destroyed = 0;
    vqSmartPtr pointer(new CountedProbe(&destroyed));
    EXPECT_FALSE(pointer.CreateInstance(0x1007));
    EXPECT_EQ(pointer.Get(), nullptr);
    EXPECT_EQ(destroyed, 1); // the object it held was released
}

TEST(ObjectModel, QueryInterfaceDefaultsToNoInterface)
{
    vqSmartPtr empty;
    void* out = &empty;
    EXPECT_FALSE(empty.QueryInterface(IID_nwIQoSNetStack, &out));
    vqSmartPtr mutex;
    ASSERT_TRUE(mutex.CreateInstance(CLSID_cpCMutex));
    EXPECT_FALSE(mutex.QueryInterface(IID_nwIQoSNetStack, &out));
    EXPECT_EQ(out, &empty); // untouched
    EXPECT_EQ(mutex.Get()->QueryInterface(IID_nwIQoSNetStack, &out), VQ_E_NOINTERFACE);
}

TEST(ObjectModel, ResultCodeHelpers)
{
    EXPECT_TRUE(VQ_SUCCEEDED(VQ_OK_NETWORK));
    EXPECT_FALSE(VQ_SUCCEEDED(VQ_E_WOULDBLOCK));
    EXPECT_TRUE(VQ_FAILED(VQ_E_PLATFORM));
    EXPECT_TRUE(VQ_IS_WOULDBLOCK(VQ_E_WOULDBLOCK));
    EXPECT_TRUE(VQ_IS_WOULDBLOCK(0x8032000Au)); // any area
    EXPECT_FALSE(VQ_IS_WOULDBLOCK(VQ_E_ALREADY));
}
